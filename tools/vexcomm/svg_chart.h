#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "quote_history.h"

namespace vexcomm::cli {

// Days since 1970-01-01 of a YYYY-MM-DD date.
int DaysFromIso(const std::string& iso);

struct ChartSeries {
  std::string label;
  std::vector<DatedQuote> quotes;  // in date order
};

struct ChartOptions {
  int width = 800;
  int plot_height = 320;   // the legend adds a row per stock below
  bool normalize = false;  // each line starts at 100
  int max_gap_days = 7;    // a longer gap breaks the line
};

// A self-contained SVG document: one path per series (a series without quotes has an empty
// one), axes with ticks, prices with the decimal comma, a legend with the labels.
std::string SvgChart(const std::vector<ChartSeries>& series, const ChartOptions& options);
// The height SvgChart gives a chart of `count` series.
int ChartHeight(const ChartOptions& options, std::size_t count);

}  // namespace vexcomm::cli
