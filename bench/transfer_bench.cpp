// Fetching files over TLS from the reference server on loopback: the component's Send (Modus 2,
// host events included) against a plain OpenSSL client asking the same questions of the same
// server in the same iteration. The ratio of the two is the figure; times drift on a shared
// machine, ratios much less.
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <memory>
#include <string>

#include "support/server_world.h"

namespace {

using vexcomm::bench::FetchWithComponent;
using vexcomm::bench::FetchWithPlainClient;
using vexcomm::bench::ServerWorld;

// Each iteration times the component and the floor in five pairs, one right after the other and
// taking turns at going first, and takes the median of the pairs' ratios: on a shared machine one
// fetch moves by half its time from one moment to the next, and both of a pair share the moment.
constexpr int kPairs = 5;

double Median(std::array<double, kPairs> v) {
  std::sort(v.begin(), v.end());
  return v[kPairs / 2];
}

void FetchBoth(benchmark::State& state, const ServerWorld& world, int files, std::size_t size) {
  using vexcomm::bench::FloorReplies;
  double floor_seconds = 0;
  double ready_seconds = 0;
  double tls_seconds = 0;
  double naive_seconds = 0;
  double component_seconds = 0;
  double progress_seconds = 0;
  double ratio_sum = 0;
  for (auto _ : state) {
    std::array<double, kPairs> floor_runs{}, component_runs{}, ratios{};
    bool complete = true;
    for (int pair = 0; pair < kPairs; ++pair) {
      vexcomm::bench::ComponentRun run;
      auto fetch_component = [&] { run = FetchWithComponent(world); };
      if (pair % 2 == 1) fetch_component();
      const auto floor = FetchWithPlainClient(world, FloorReplies::kInOneBuffer, size + 4096);
      if (pair % 2 == 0) fetch_component();
      complete = complete && run.fehler == 0 && run.files == files && run.bytes == files * size &&
                 floor.files == files;
      floor_runs[pair] = floor.seconds;
      component_runs[pair] = run.seconds;
      ratios[pair] = run.seconds / floor.seconds;
    }
    ready_seconds += FetchWithPlainClient(world, FloorReplies::kInReadyBuffer, size + 4096).seconds;
    tls_seconds += FetchWithPlainClient(world, FloorReplies::kDropped).seconds;
    naive_seconds += FetchWithPlainClient(world, FloorReplies::kInNewBuffers).seconds;
    const auto with_progress = FetchWithComponent(world, nullptr, true);
    if (!complete || with_progress.bytes != files * size) {
      state.SkipWithError("a fetch did not receive every file");
      break;
    }
    const double component = Median(component_runs);
    state.SetIterationTime(component);
    floor_seconds += Median(floor_runs);
    component_seconds += component;
    ratio_sum += Median(ratios);
    progress_seconds += with_progress.seconds;
  }
  // Each repetition's ratio is taken against its own floor.
  const auto n = static_cast<double>(state.iterations());
  state.counters["floor_s"] = floor_seconds / n;
  state.counters["ratio"] = ratio_sum / n;
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

// CPU time of the calling thread, the component's: the server's threads are not in it, nor the
// waits for a core on a busy machine.
double ThreadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// The cost of a trace: the same fetch without a sink and with one writing a JSON-lines file, in
// the same iteration, so the ratio holds against the machine's drift.
void FetchTraced(benchmark::State& state, const ServerWorld& world, int files) {
  double plain_seconds = 0;
  double traced_seconds = 0;
  double plain_cpu = 0;
  double traced_cpu = 0;
  const auto file = world.root() / "run.trace";
  for (auto _ : state) {
    // Taking turns at going first: whichever runs second finds the server's caches warm.
    static int round = 0;
    const bool traced_first = round++ % 2 == 1;
    vexcomm::bench::ComponentRun plain, traced;
    auto run_traced = [&] {
      const double cpu = ThreadSeconds();
      traced = FetchWithComponent(world, vexcomm::OpenTraceFile(file));
      traced_cpu += ThreadSeconds() - cpu;
    };
    if (traced_first) run_traced();
    const double cpu = ThreadSeconds();
    plain = FetchWithComponent(world);
    plain_cpu += ThreadSeconds() - cpu;
    if (!traced_first) run_traced();
    if (plain.files != files || traced.files != files || traced.fehler != 0) {
      state.SkipWithError("a fetch did not receive every file");
      break;
    }
    state.SetIterationTime(traced.seconds);
    plain_seconds += plain.seconds;
    traced_seconds += traced.seconds;
  }
  const auto n = static_cast<double>(state.iterations());
  state.counters["no_sink_s"] = plain_seconds / n;
  state.counters["trace_ratio"] = traced_seconds / plain_seconds;
  state.counters["no_sink_cpu_s"] = plain_cpu / n;
  state.counters["trace_cpu_ratio"] = traced_cpu / plain_cpu;
  state.counters["trace_MB"] = static_cast<double>(std::filesystem::file_size(file)) / 1e6;
}

void BM_ManySmallFilesTraced(benchmark::State& state) {
  constexpr int kFiles = 10000;
  static const auto world =
      std::make_unique<ServerWorld>(vexcomm::bench::FilesScenario(kFiles, 1024));
  FetchTraced(state, *world, kFiles);
}
BENCHMARK(BM_ManySmallFilesTraced)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
