// Fetching files over TLS from the reference server on loopback: the component's Send (Modus 2,
// host events included) against a plain OpenSSL client asking the same questions of the same
// server in the same iteration. The ratio of the two is the figure; times drift on a shared
// machine, ratios much less.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "support/server_world.h"

namespace {

using vexcomm::bench::FetchWithComponent;
using vexcomm::bench::FetchWithPlainClient;
using vexcomm::bench::ServerWorld;

void FetchBoth(benchmark::State& state, const ServerWorld& world, int files, std::size_t size) {
  using vexcomm::bench::FloorReplies;
  double floor_seconds = 0;
  double ready_seconds = 0;
  double tls_seconds = 0;
  double naive_seconds = 0;
  double component_seconds = 0;
  double progress_seconds = 0;
  for (auto _ : state) {
    const auto floor = FetchWithPlainClient(world, FloorReplies::kInOneBuffer, size + 4096);
    ready_seconds += FetchWithPlainClient(world, FloorReplies::kInReadyBuffer, size + 4096).seconds;
    tls_seconds += FetchWithPlainClient(world, FloorReplies::kDropped).seconds;
    naive_seconds += FetchWithPlainClient(world, FloorReplies::kInNewBuffers).seconds;
    const auto run = FetchWithComponent(world);
    const auto with_progress = FetchWithComponent(world, true);
    if (run.fehler != 0 || run.files != files || run.bytes != files * size ||
        floor.files != files || with_progress.bytes != run.bytes) {
      state.SkipWithError("a fetch did not receive every file");
      break;
    }
    state.SetIterationTime(run.seconds);
    floor_seconds += floor.seconds;
    component_seconds += run.seconds;
    progress_seconds += with_progress.seconds;
  }
  // Each repetition's ratio is taken against its own floor.
  const auto n = static_cast<double>(state.iterations());
  state.counters["floor_s"] = floor_seconds / n;
  state.counters["ratio"] = component_seconds / floor_seconds;
  state.counters["ready_buffer_s"] = ready_seconds / n;
  state.counters["ready_buffer_ratio"] = component_seconds / ready_seconds;
  state.counters["tls_only_s"] = tls_seconds / n;
  state.counters["tls_only_ratio"] = component_seconds / tls_seconds;
  state.counters["naive_client_s"] = naive_seconds / n;
  state.counters["naive_ratio"] = component_seconds / naive_seconds;
  // The same fetch with a handler of the reply's progress: what leaving it on costs.
  state.counters["progress_s"] = progress_seconds / n;
  state.counters["progress_ratio"] = progress_seconds / component_seconds;
  state.counters["MB"] = static_cast<double>(files * size) / 1e6;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * files *
                          static_cast<int64_t>(size));
}

void BM_LargeFiles(benchmark::State& state) {
  constexpr int kFiles = 4;
  constexpr std::size_t kSize = 50u << 20;
  static const auto world =
      std::make_unique<ServerWorld>(vexcomm::bench::FilesScenario(kFiles, kSize));
  FetchBoth(state, *world, kFiles, kSize);
}
BENCHMARK(BM_LargeFiles)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_ManySmallFiles(benchmark::State& state) {
  constexpr int kFiles = 10000;
  constexpr std::size_t kSize = 1024;
  static const auto world =
      std::make_unique<ServerWorld>(vexcomm::bench::FilesScenario(kFiles, kSize));
  FetchBoth(state, *world, kFiles, kSize);
}
BENCHMARK(BM_ManySmallFiles)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
