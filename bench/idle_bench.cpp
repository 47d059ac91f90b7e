// A run that waits on a silent server: the server takes the request and never answers, the
// host cancels after 3 s from another thread. The figure is the CPU time the process used
// during the run as a share of its wall time; the goal is under 1 %, since the wait blocks.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include <vexcomm/vexcomm.h>

#include "support/server_world.h"

namespace {

using namespace std::chrono_literals;
using vexcomm::bench::ServerWorld;

double CpuSeconds(int who) {
  rusage usage{};
  ::getrusage(who, &usage);
  const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void BM_IdleWait(benchmark::State& state) {
  static const auto world = std::make_unique<ServerWorld>(
      std::string(R"({"installations": [{"blz": ")") + vexcomm::bench::kBlz +
      R"(", "kundennr": ")" + vexcomm::bench::kKundenNr +
      R"(", "files": []}], "rules": [{"code": "AKNEW", "silent": true}]})");
  double process_cpu = 0;
  double thread_cpu = 0;
  double wall = 0;
  for (auto _ : state) {
    world->ResetIdentity();
    vexcomm::Module module(world->Host());
    auto vc = vexcomm::VexComm::Create(module);
    vc->SetSocket(module.CreateSocket(world->Socket()));
    vc->SetModus(vexcomm::VexCommGetNew);

    const double process_before = CpuSeconds(RUSAGE_SELF);
    const double thread_before = CpuSeconds(RUSAGE_THREAD);
    const auto start = std::chrono::steady_clock::now();
    // The host's other thread: it does nothing until it cancels.
    std::thread host([vc] {
      std::this_thread::sleep_for(3s);
      vc->PostCancelSend();
    });
    vc->Send();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    thread_cpu += CpuSeconds(RUSAGE_THREAD) - thread_before;
    process_cpu += CpuSeconds(RUSAGE_SELF) - process_before;
    host.join();
    if (vc->Fehler()->Text != "Benutzer-Abbruch") {
      state.SkipWithError("the run did not end by the host's cancel");
      break;
    }
    state.SetIterationTime(seconds);
    wall += seconds;
  }
  state.counters["cpu_ms"] = process_cpu * 1e3 / static_cast<double>(state.iterations());
  state.counters["cpu_pct"] = process_cpu / wall * 100;
  state.counters["thread_cpu_pct"] = thread_cpu / wall * 100;
}
BENCHMARK(BM_IdleWait)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
