// Parsing the condition list: the time per provider should stay flat as the list grows.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <string>

#include <vexcomm/deposits.h>

#include "deposits/deposit_requests.h"
#include "support/tagesgeld_list.h"

namespace {

using vexcomm::colTGAnbieter;
using vexcomm::deposits::ConditionKind;
using vexcomm::deposits::ParseConditionList;

void BM_ParseTagesgeldList(benchmark::State& state) {
  const int providers = static_cast<int>(state.range(0));
  const std::string list = vexcomm::bench::TagesgeldList(providers);
  const vexcomm::platform::NumericSeparators separators{",", "."};
  for (auto _ : state) {
    auto anbieter = colTGAnbieter::Create();
    ParseConditionList(list, ConditionKind::Tagesgeld, *anbieter, separators);
    benchmark::DoNotOptimize(anbieter->Count());
  }
  state.SetItemsProcessed(state.iterations() * providers);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(list.size()));
  state.SetComplexityN(providers);
}
BENCHMARK(BM_ParseTagesgeldList)->Arg(100)->Arg(500)->Arg(2000)->Complexity(benchmark::oN);

// The heap a parsed tree takes, per octet of the list and per node: a large reply must not
// cost many times its own size. Heap in use is read from the allocator before and after.
void BM_TreeBytes(benchmark::State& state) {
  const int providers = static_cast<int>(state.range(0));
  const std::string list = vexcomm::bench::TagesgeldList(providers);
  const vexcomm::platform::NumericSeparators separators{",", "."};
  const double nodes = providers * (1 + 3 * (1 + 4));
  double bytes = 0;
  for (auto _ : state) {
    const std::size_t before = mallinfo2().uordblks;
    auto anbieter = colTGAnbieter::Create();
    ParseConditionList(list, ConditionKind::Tagesgeld, *anbieter, separators);
    bytes = static_cast<double>(mallinfo2().uordblks - before);
    benchmark::DoNotOptimize(anbieter->Count());
  }
  state.counters["bytes_per_list_byte"] = bytes / static_cast<double>(list.size());
  state.counters["bytes_per_node"] = bytes / nodes;
}
BENCHMARK(BM_TreeBytes)->Arg(20000)->Iterations(1);

}  // namespace
