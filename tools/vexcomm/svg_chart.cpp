#include "svg_chart.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>

#include "messages.h"

namespace vexcomm::cli {
namespace {

namespace fs = std::filesystem;

constexpr int kLeft = 72;
constexpr int kRight = 24;
constexpr int kTop = 16;
constexpr int kAxisBand = 40;  // tick labels below the plot
constexpr int kLegendRow = 18;
constexpr const char* kColors[] = {"#1f77b4", "#d62728", "#2ca02c", "#ff7f0e", "#9467bd",
                                   "#8c564b", "#e377c2", "#7f7f7f", "#bcbd22", "#17becf"};

// Howard Hinnant's civil-calendar conversions.
int DaysFromCivil(int y, int m, int d) {
  y -= m <= 2 ? 1 : 0;
  const int era = (y >= 0 ? y : y - 399) / 400;
  const int yoe = y - era * 400;
  const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int z, int& y, int& m, int& d) {
  z += 719468;
  const int era = (z >= 0 ? z : z - 146096) / 146097;
  const int doe = z - era * 146097;
  const int yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = yoe + era * 400 + (m <= 2 ? 1 : 0);
}

// Length of the well-formed UTF-8 sequence at `at`, or 0.
std::size_t Utf8Sequence(const std::string& text, std::size_t at) {
  const auto byte = [&text](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(at);
  const std::size_t length = lead < 0x80                   ? 1
                             : lead >= 0xC2 && lead < 0xE0 ? 2
                             : lead >= 0xE0 && lead < 0xF0 ? 3
                             : lead >= 0xF0 && lead < 0xF5 ? 4
                                                           : 0;
  if (length == 0 || at + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(at + k) & 0xC0) != 0x80) return 0;
  }
  // Overlong forms, surrogates and code points past U+10FFFF.
  if (length == 3 &&
      ((lead == 0xE0 && byte(at + 1) < 0xA0) || (lead == 0xED && byte(at + 1) >= 0xA0))) {
    return 0;
  }
  if (length == 4 &&
      ((lead == 0xF0 && byte(at + 1) < 0x90) || (lead == 0xF4 && byte(at + 1) >= 0x90))) {
    return 0;
  }
  return length;
}

// Text for an XML document: markup characters escaped, control characters (not allowed in
// XML 1.0) dropped, and bytes that are not UTF-8 replaced, so a name never breaks the file.
std::string Escape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = Utf8Sequence(text, i);
    if (length == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
      continue;
    }
    const char c = text[i];
    if (length > 1) {
      out.append(text, i, length);
    } else if (c == '&') {
      out += "&amp;";
    } else if (c == '<') {
      out += "&lt;";
    } else if (c == '>') {
      out += "&gt;";
    } else if (c == '"') {
      out += "&quot;";
    } else if (static_cast<unsigned char>(c) >= 0x20 || c == '\t') {
      out += c;
    }
    i += length;
  }
  return out;
}

std::string Fixed(double value, int decimals) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
  return buffer;
}

// One decimal, written without printf: a chart of ten years has a million of them.
void AppendCoordinate(std::string& out, double value) {
  long long tenths = std::llround(value * 10);
  if (tenths < 0) {
    out += '-';
    tenths = -tenths;
  }
  char digits[24];
  auto [end, ec] = std::to_chars(digits, digits + sizeof digits, tenths / 10);
  out.append(digits, end);
  out += '.';
  out += static_cast<char>('0' + tenths % 10);
}

std::string Coordinate(double value) {
  std::string out;
  AppendCoordinate(out, value);
  return out;
}

std::string DecimalComma(double value, int decimals) {
  std::string text = Fixed(value, decimals);
  std::replace(text.begin(), text.end(), '.', ',');
  return text;
}

// 1, 2 or 5 times a power of ten, so that about `count` steps span `range`.
double NiceStep(double range, int count) {
  const double raw = range / count;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0}) {
    if (raw <= m * power) return m * power;
  }
  return 10 * power;
}

struct DateTick {
  int day;
  std::string label;
};

// Days, weeks, months or years, whichever gives at most about eight ticks.
std::vector<DateTick> DateTicks(int first, int last) {
  std::vector<DateTick> ticks;
  const int span = std::max(last - first, 1);
  auto label_day = [](int day) {
    int y, m, d;
    CivilFromDays(day, y, m, d);
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%02d.%02d.", d, m);
    return std::string(buffer);
  };
  for (int step : {1, 2, 7, 14}) {
    if (span / step > 8) continue;
    // Weeks start on Mondays (day 4 since the epoch was one).
    int day = step >= 7 ? first + ((4 - first) % 7 + 7) % 7 : first;
    for (; day <= last; day += step) ticks.push_back({day, label_day(day)});
    return ticks;
  }
  int y, m, d;
  CivilFromDays(first, y, m, d);
  for (int months : {1, 2, 3, 6, 12, 24, 60, 120}) {
    if (span / (30.44 * months) > 8) continue;
    int year = y;
    int month = m;
    // The first month start on or after `first` that falls on the step.
    if (d != 1 || DaysFromCivil(y, m, 1) < first) ++month;
    for (;; ++month) {
      if (month > 12) {
        month -= 12;
        ++year;
      }
      if ((months < 12 && (month - 1) % months == 0) ||
          (months >= 12 && month == 1 && year % (months / 12) == 0)) {
        break;
      }
    }
    for (;;) {
      const int day = DaysFromCivil(year, month, 1);
      if (day > last) break;
      char buffer[16];
      if (months >= 12) {
        std::snprintf(buffer, sizeof buffer, "%d", year);
      } else {
        std::snprintf(buffer, sizeof buffer, "%02d.%d", month, year);
      }
      ticks.push_back({day, buffer});
      month += months;
      while (month > 12) {
        month -= 12;
        ++year;
      }
    }
    return ticks;
  }
  return ticks;
}

}  // namespace

int DaysFromIso(const std::string& iso) {
  return DaysFromCivil(std::atoi(iso.substr(0, 4).c_str()), std::atoi(iso.substr(5, 2).c_str()),
                       std::atoi(iso.substr(8, 2).c_str()));
}

int ChartHeight(const ChartOptions& options, std::size_t count) {
  return kTop + options.plot_height + kAxisBand + static_cast<int>(count) * kLegendRow + 8;
}

std::string SvgChart(const std::vector<ChartSeries>& series, const ChartOptions& options) {
  // The values drawn, normalized when asked.
  std::vector<std::vector<std::pair<int, double>>> lines;
  int first = std::numeric_limits<int>::max();
  int last = std::numeric_limits<int>::min();
  double lo = std::numeric_limits<double>::max();
  double hi = std::numeric_limits<double>::lowest();
  for (const auto& s : series) {
    auto& line = lines.emplace_back();
    const double base =
        !s.quotes.empty() && s.quotes.front().value != 0 ? s.quotes.front().value : 0;
    for (const auto& q : s.quotes) {
      const double value = options.normalize && base != 0 ? q.value / base * 100.0 : q.value;
      const int day = DaysFromIso(q.iso);
      line.emplace_back(day, value);
      first = std::min(first, day);
      last = std::max(last, day);
      lo = std::min(lo, value);
      hi = std::max(hi, value);
    }
  }
  if (first > last) {
    first = last = 0;
    lo = 0;
    hi = 1;
  }
  if (hi - lo < 1e-9) {
    const double pad = std::max(std::abs(hi) * 0.05, 1.0);
    lo -= pad;
    hi += pad;
  }
  const double step = NiceStep(hi - lo, 5);
  const double y_min = std::floor(lo / step) * step;
  const double y_max = std::ceil(hi / step) * step;
  const int decimals = std::max(0, static_cast<int>(-std::floor(std::log10(step) + 1e-9)));
  const int x_days = std::max(last - first, 1);

  const int width = options.width;
  const int height = ChartHeight(options, series.size());
  const double plot_w = width - kLeft - kRight;
  const double plot_h = options.plot_height;
  auto x_of = [&](int day) { return kLeft + (day - first) * plot_w / x_days; };
  auto y_of = [&](double v) { return kTop + (y_max - v) * plot_h / (y_max - y_min); };

  std::string svg;
  std::size_t points = 0;
  for (const auto& line : lines) points += line.size();
  svg.reserve(4096 + series.size() * 256 + points * 14);
  svg += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(width) +
         "\" height=\"" + std::to_string(height) + "\" viewBox=\"0 0 " + std::to_string(width) +
         " " + std::to_string(height) + "\" font-family=\"sans-serif\" font-size=\"12\">\n";
  svg += "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";

  // Price axis: grid lines and labels.
  svg += "<g class=\"y-axis\" stroke=\"#dddddd\" stroke-width=\"1\">\n";
  std::string labels;
  for (double v = y_min; v <= y_max + step / 2; v += step) {
    const std::string y = Coordinate(y_of(v));
    svg += "<line x1=\"" + std::to_string(kLeft) + "\" y1=\"" + y + "\" x2=\"" +
           std::to_string(width - kRight) + "\" y2=\"" + y + "\"/>\n";
    labels += "<text x=\"" + std::to_string(kLeft - 6) + "\" y=\"" + y +
              "\" text-anchor=\"end\" dominant-baseline=\"middle\">" + DecimalComma(v, decimals) +
              "</text>\n";
  }
  svg += "</g>\n<g class=\"y-labels\" fill=\"#333333\">\n" + labels + "</g>\n";

  // Date axis.
  const std::string axis_y = Coordinate(kTop + plot_h);
  svg += "<g class=\"x-axis\" stroke=\"#333333\" stroke-width=\"1\">\n<line x1=\"" +
         std::to_string(kLeft) + "\" y1=\"" + axis_y + "\" x2=\"" + std::to_string(width - kRight) +
         "\" y2=\"" + axis_y + "\"/>\n";
  labels.clear();
  for (const auto& tick : DateTicks(first, last)) {
    const std::string x = Coordinate(x_of(tick.day));
    svg += "<line x1=\"" + x + "\" y1=\"" + axis_y + "\" x2=\"" + x + "\" y2=\"" +
           Coordinate(kTop + plot_h + 5) + "\"/>\n";
    labels += "<text x=\"" + x + "\" y=\"" + Coordinate(kTop + plot_h + 20) +
              "\" text-anchor=\"middle\">" + Escape(tick.label) + "</text>\n";
  }
  svg += "</g>\n<g class=\"x-labels\" fill=\"#333333\">\n" + labels + "</g>\n";

  // One path per stock; a gap longer than the limit starts a new piece.
  svg +=
      "<g class=\"lines\" fill=\"none\" stroke-width=\"1.5\" stroke-linejoin=\"round\" "
      "stroke-linecap=\"round\">\n";
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string d;
    d.reserve(lines[i].size() * 14);
    int previous = 0;
    std::size_t piece = 0;  // points in the current piece
    for (std::size_t k = 0; k < lines[i].size(); ++k) {
      const auto [day, value] = lines[i][k];
      const bool starts = k == 0 || day - previous > options.max_gap_days;
      // A lone point is closed so that the round cap shows it as a dot.
      if (starts && piece == 1) d += " Z";
      piece = starts ? 1 : piece + 1;
      if (!d.empty()) d += ' ';
      d += starts ? 'M' : 'L';
      AppendCoordinate(d, x_of(day));
      d += ',';
      AppendCoordinate(d, y_of(value));
      previous = day;
    }
    if (piece == 1) d += " Z";
    svg += "<path stroke=\"";
    svg += kColors[i % std::size(kColors)];
    svg += "\" d=\"";
    svg += d;
    svg += "\"><title>" + Escape(series[i].label) + "</title></path>\n";
  }
  svg += "</g>\n";

  // Legend below the date axis.
  svg += "<g class=\"legend\" fill=\"#333333\">\n";
  for (std::size_t i = 0; i < series.size(); ++i) {
    const int y = kTop + options.plot_height + kAxisBand + static_cast<int>(i) * kLegendRow + 9;
    svg += "<rect x=\"" + std::to_string(kLeft) + "\" y=\"" + std::to_string(y - 5) +
           "\" width=\"16\" height=\"4\" fill=\"" + kColors[i % std::size(kColors)] + "\"/>\n";
    svg += "<text x=\"" + std::to_string(kLeft + 22) + "\" y=\"" + std::to_string(y) +
           "\" dominant-baseline=\"middle\">" + Escape(series[i].label) +
           (options.normalize ? " " + Tr("(first day = 100)") : "") + "</text>\n";
  }
  svg += "</g>\n</svg>\n";
  return svg;
}

}  // namespace vexcomm::cli
