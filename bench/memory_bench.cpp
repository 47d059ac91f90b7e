// Peak resident memory of a host process while the component receives one 100 MB file and
// hands it to the host's NeueDatei handler, against the file's size. The client runs in a
// child forked before the server starts, so that its peak (VmHWM) holds the client alone.
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "support/server_world.h"

namespace {

using vexcomm::bench::ServerWorld;

constexpr std::size_t kFileSize = 100u << 20;

// A field of /proc/self/status, in kB.
long StatusKb(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::strlen(field)));
  }
  return -1;
}

struct ChildReport {
  long start_kb = -1;
  long peak_kb = -1;
  int files = 0;
  std::uint64_t bytes = 0;
  std::int32_t fehler = -1;
};

bool ReadAll(int fd, void* data, std::size_t size) {
  auto* p = static_cast<char*>(data);
  while (size > 0) {
    const ssize_t n = ::read(fd, p, size);
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

[[noreturn]] void Child(ServerWorld& world, int port_in, int report_out) {
  ChildReport report;
  std::uint16_t port = 0;
  if (ReadAll(port_in, &port, sizeof port)) {
    world.UsePort(port);
    report.start_kb = StatusKb("VmRSS:");
    const auto run = vexcomm::bench::FetchWithComponent(world);
    report.peak_kb = StatusKb("VmHWM:");
    report.files = run.files;
    report.bytes = run.bytes;
    report.fehler = run.fehler;
  }
  (void)!::write(report_out, &report, sizeof report);
  ::_exit(0);
}

void BM_PeakMemory(benchmark::State& state) {
  double peak_mb = 0;
  double start_mb = 0;
  for (auto _ : state) {
    ServerWorld world(vexcomm::bench::FilesScenario(1, kFileSize), false);
    int to_child[2];
    int from_child[2];
    if (::pipe(to_child) != 0 || ::pipe(from_child) != 0) {
      state.SkipWithError("pipe");
      break;
    }
    const pid_t pid = ::fork();
    if (pid == 0) Child(world, to_child[0], from_child[1]);
    world.Start();
    const std::uint16_t port = world.port();
    (void)!::write(to_child[1], &port, sizeof port);
    ChildReport report;
    const bool reported = ReadAll(from_child[0], &report, sizeof report);
    ::waitpid(pid, nullptr, 0);
    for (int fd : {to_child[0], to_child[1], from_child[0], from_child[1]}) ::close(fd);
    if (!reported || report.fehler != 0 || report.files != 1 || report.bytes != kFileSize) {
      state.SkipWithError("the child did not receive the file");
      break;
    }
    peak_mb = static_cast<double>(report.peak_kb) / 1024;
    start_mb = static_cast<double>(report.start_kb) / 1024;
  }
  state.counters["file_MB"] = static_cast<double>(kFileSize) / (1 << 20);
  state.counters["start_MB"] = start_mb;
  state.counters["peak_MB"] = peak_mb;
  state.counters["ratio"] = peak_mb * (1 << 20) / static_cast<double>(kFileSize);
}
BENCHMARK(BM_PeakMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
