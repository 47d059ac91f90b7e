#include "text_table.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <ostream>

#include <vexcomm/text.h>

#include "messages.h"

namespace vexcomm::cli {
std::size_t TableWidth() {
  if (const char* columns = std::getenv("COLUMNS")) {
    std::size_t value = 0;
    const std::string_view text(columns);
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec == std::errc() && end == text.data() + text.size() && value > 0) return value;
  }
  winsize size{};
  if (::isatty(STDOUT_FILENO) && ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0) return size.ws_col;
  return 0;
}

TextTable::TextTable(std::vector<std::string> headers)
    : headers_(std::move(headers)), made_(headers_.size()) {
  for (std::size_t c = 0; c < made_.size(); ++c) made_[c] = c;
}

void TextTable::AddRow(std::vector<std::string> cells) {
  cells.resize(headers_.size());
  rows_.push_back(std::move(cells));
}

std::vector<std::size_t> TextTable::Widths() const {
  std::vector<std::size_t> widths(headers_.size());
  for (std::size_t c = 0; c < headers_.size(); ++c) {
    widths[c] = CodePointCount(headers_[c]);
    for (const auto& row : rows_) widths[c] = std::max(widths[c], CodePointCount(row[c]));
  }
  return widths;
}

std::size_t TextTable::LineWidth(std::size_t indent) const {
  std::size_t total = indent;
  for (std::size_t w : Widths()) total += w + 2;
  return total - 2;
}

std::vector<std::string> TextTable::Fit(std::size_t width, std::size_t indent,
                                        const std::vector<std::size_t>& drop) {
  std::vector<std::string> dropped;
  if (width == 0) return dropped;
  for (std::size_t column : drop) {
    if (LineWidth(indent) <= width) break;
    const auto at = std::find(made_.begin(), made_.end(), column);
    if (at == made_.end()) continue;
    const auto index = static_cast<std::ptrdiff_t>(at - made_.begin());
    made_.erase(at);
    dropped.push_back(headers_[static_cast<std::size_t>(index)]);
    headers_.erase(headers_.begin() + index);
    for (auto& row : rows_) row.erase(row.begin() + index);
  }
  return dropped;
}

bool TextTable::Shrink(std::size_t made, std::size_t width, std::size_t indent) {
  const auto column =
      static_cast<std::size_t>(std::find(made_.begin(), made_.end(), made) - made_.begin());
  const std::size_t total = LineWidth(indent);
  if (width == 0 || column >= headers_.size() || total <= width) return false;
  const std::size_t current = Widths()[column];
  const std::size_t floor = std::max<std::size_t>(CodePointCount(headers_[column]), 2);
  if (current <= floor) return false;
  const std::size_t target = std::max(floor, current - std::min(current, total - width));
  bool cut = false;
  for (auto& row : rows_) {
    if (CodePointCount(row[column]) <= target) continue;
    row[column] = std::string(CodePointPrefix(row[column], target - 1)) + "…";
    cut = true;
  }
  return cut;
}

std::string LeftOutNote(const std::vector<std::string>& dropped, bool cut, std::size_t width,
                        std::size_t indent) {
  if (dropped.empty() && !cut) return {};
  auto note = [&](bool named) {
    std::string names;
    for (const auto& name : dropped) names += (names.empty() ? "" : ", ") + name;
    std::string what = dropped.empty() ? ""
                       : named
                           ? Fill(Tr("left out: %1"), {names})
                           : Fill(TrN("%1 column left out", "%1 columns left out", dropped.size()),
                                  {std::to_string(dropped.size())});
    if (cut) what += (what.empty() ? "" : "; ") + Tr("long values cut");
    return Fill(Tr("(%1; --wide shows all)"), {what});
  };
  // The names while they fit the line, else how many.
  std::string named = note(true);
  if (width == 0 || indent + CodePointCount(named) <= width) return named;
  return note(false);
}

void TextTable::Print(std::ostream& out, std::string_view indent) const {
  const std::vector<std::size_t> widths = Widths();
  auto print_row = [&](const std::vector<std::string>& cells) {
    std::string line(indent);
    for (std::size_t c = 0; c < cells.size(); ++c) {
      line += cells[c];
      if (c + 1 < cells.size()) line += std::string(widths[c] - CodePointCount(cells[c]) + 2, ' ');
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
