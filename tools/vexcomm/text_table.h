#pragma once

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace vexcomm::cli {

// Columns padded to their widest cell, for tables on a terminal: a cell is as wide as its code
// points, which is what a terminal shows for the Latin texts here.
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
