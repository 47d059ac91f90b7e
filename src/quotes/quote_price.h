#pragma once

#include <optional>
#include <string_view>

namespace vexcomm::quotes {

// A price as the quote replies carry it: digits with at most one decimal separator ("," or
// "."), digits on both sides of it; no sign, grouping, exponent or blank. Its value, or nothing
// for any other text.
std::optional<double> QuotePrice(std::string_view kurs) noexcept;

}  // namespace vexcomm::quotes
