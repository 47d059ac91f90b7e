#pragma once

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace vexcomm::cli {

// The width tables should fit: COLUMNS, else the terminal on standard output; 0 when neither
// says (output into a pipe or file stays whole).
std::size_t TableWidth();

// Columns padded to their widest cell, for tables on a terminal: a cell is as wide as its code
// points, which is what a terminal shows for the Latin texts here.
// The line under a table that lost columns or had cells cut to fit `width` (after `indent`),
// naming what is missing while the names fit, and that --wide shows it; empty when nothing is.
std::string LeftOutNote(const std::vector<std::string>& dropped, bool cut, std::size_t width,
                        std::size_t indent);

class TextTable {
 public:
  explicit TextTable(std::vector<std::string> headers);
  void AddRow(std::vector<std::string> cells);
  bool empty() const { return rows_.empty(); }
  void Print(std::ostream& out, std::string_view indent = "") const;
  // Removes columns, in the order of `drop` (indices of the columns as made), until a line with
  // `indent` is at most `width` code points wide or `drop` is used up; 0 keeps all. Returns the
  // headers of the columns it removed.
  std::vector<std::string> Fit(std::size_t width, std::size_t indent,
                               const std::vector<std::size_t>& drop);
  // Cuts the cells of column `column` (an index as made) with "…" until a line fits `width`,
  // never narrower than its header; true when a cell was cut.
  bool Shrink(std::size_t column, std::size_t width, std::size_t indent);

 private:
  std::vector<std::string> headers_;
  std::vector<std::vector<std::string>> rows_;
  std::vector<std::size_t> made_;  // the index each column had as made
  std::vector<std::size_t> Widths() const;
  std::size_t LineWidth(std::size_t indent) const;
};

}  // namespace vexcomm::cli
