#pragma once

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace vexcomm::cli {

// Width of UTF-8 text in code points, which is what a terminal shows for the Latin texts here.
std::size_t Utf8Width(std::string_view text);
// The longest start of `text` that is at most `width` code points, cut at a code point.
std::string Utf8Truncate(std::string_view text, std::size_t width);

// Columns padded to their widest cell, for tables on a terminal.
class TextTable {
 public:
  explicit TextTable(std::vector<std::string> headers);
  void AddRow(std::vector<std::string> cells);
  bool empty() const { return rows_.empty(); }
  void Print(std::ostream& out, std::string_view indent = "") const;

 private:
  std::vector<std::string> headers_;
  std::vector<std::vector<std::string>> rows_;
};

}  // namespace vexcomm::cli
