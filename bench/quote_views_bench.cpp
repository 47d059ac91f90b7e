// What vexcomm makes of ten stored years of 100 stocks: the SVG chart and the CSV export, each
// beside the least work the same output needs (the floor): formatting every number once.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <string>

#include <vexcomm/quotes.h>

#include "quote_history.h"
#include "svg_chart.h"

namespace {

using namespace std::chrono;

constexpr int kStocks = 100;
constexpr int kDays = 3650;

// The collection as ReadDB leaves it: stored dates and prices, in date order.
const vexcomm::colAktien& TenYears() {
  static vexcomm::colAktien aktien = [] {
    vexcomm::colAktien a;
    const sys_days first = sys_days{2016y / January / 1};
    for (int s = 0; s < kStocks; ++s) {
      auto stock = a.Add(std::to_string(700000 + s), "DE000" + std::to_string(7000000 + s),
                         "Aktie " + std::to_string(s));
      for (int d = 0; d < kDays; ++d) {
        const year_month_day ymd{first + days{d}};
        char datum[16];
        std::snprintf(datum, sizeof datum, "%02u.%02u.%04d", unsigned(ymd.day()),
                      unsigned(ymd.month()), int(ymd.year()));
        stock->KursAdd(datum, std::to_string(10 + s + d % 50) + "," + std::to_string(d % 100));
      }
    }
    return a;
  }();
  return aktien;
}

std::vector<std::shared_ptr<vexcomm::clsAktie>> All() {
  std::vector<std::shared_ptr<vexcomm::clsAktie>> stocks;
  for (int32_t i = 1; i <= TenYears().Count(); ++i) stocks.push_back(TenYears().Item(i));
  return stocks;
}

void BM_Chart(benchmark::State& state) {
  const auto stocks = All();
  std::size_t bytes = 0;
  for (auto _ : state) {
    std::vector<vexcomm::cli::ChartSeries> series;
    for (const auto& s : stocks) series.push_back({s->Name, vexcomm::cli::QuotesByDate(*s)});
    const std::string svg = vexcomm::cli::SvgChart(series, {});
    bytes = svg.size();
    benchmark::DoNotOptimize(svg.data());
  }
  state.counters["svg_bytes"] = static_cast<double>(bytes);
}

void BM_Export(benchmark::State& state) {
  const auto stocks = All();
  std::size_t bytes = 0;
  for (auto _ : state) {
    const std::string csv = vexcomm::cli::QuotesCsv(stocks, {';', true});
    bytes = csv.size();
    benchmark::DoNotOptimize(csv.data());
  }
  state.counters["csv_bytes"] = static_cast<double>(bytes);
}

// Every quote's date and price written once as text into one string.
void BM_PlainFormat(benchmark::State& state) {
  const auto stocks = All();
  for (auto _ : state) {
    std::string out;
    char line[64];
    for (const auto& s : stocks) {
      for (int32_t k = 1; k <= s->KursCount(); ++k) {
        const auto q = s->Kurs(k);
        const int n =
            std::snprintf(line, sizeof line, "%s;%s\n", q->Datum.c_str(), q->Kurs.c_str());
        out.append(line, static_cast<std::size_t>(n));
      }
    }
    benchmark::DoNotOptimize(out.data());
  }
}

BENCHMARK(BM_Chart)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Export)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlainFormat)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
