#include "text_table.h"

#include <algorithm>
#include <ostream>

#include "platform/utf8.h"

namespace vexcomm::cli {
TextTable::TextTable(std::vector<std::string> headers) : headers_(std::move(headers)) {}

void TextTable::AddRow(std::vector<std::string> cells) {
  cells.resize(headers_.size());
  rows_.push_back(std::move(cells));
}

void TextTable::Print(std::ostream& out, std::string_view indent) const {
  std::vector<std::size_t> widths(headers_.size());
  for (std::size_t c = 0; c < headers_.size(); ++c) {
    widths[c] = platform::CodePointCount(headers_[c]);
    for (const auto& row : rows_) widths[c] = std::max(widths[c], platform::CodePointCount(row[c]));
  }
  auto print_row = [&](const std::vector<std::string>& cells) {
    std::string line(indent);
    for (std::size_t c = 0; c < cells.size(); ++c) {
      line += cells[c];
      if (c + 1 < cells.size())
        line += std::string(widths[c] - platform::CodePointCount(cells[c]) + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out << line << "\n";
  };
  print_row(headers_);
  std::vector<std::string> rule;
  for (std::size_t w : widths) rule.emplace_back(w, '-');
  print_row(rule);
  for (const auto& row : rows_) print_row(row);
}

}  // namespace vexcomm::cli
