// Peak resident memory of a host process while the component receives one 100 MB file and
// hands it to the host's NeueDatei handler, against the file's size. The client runs in a
// child forked before the server starts, so that its peak (VmHWM) holds the client alone.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <vexcomm/deposits.h>
#include <vexcomm/vexcomm.h>

#include "support/server_world.h"
#include "support/tagesgeld_list.h"

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

// Forks `child` before the server starts (so its peak is its own), hands it the server's port
// and reads its report.
bool RunInChild(ServerWorld& world, void (*child)(ServerWorld&, int, int), ChildReport& report) {
  int to_child[2];
  int from_child[2];
  if (::pipe(to_child) != 0 || ::pipe(from_child) != 0) return false;
  const pid_t pid = ::fork();
  if (pid == 0) child(world, to_child[0], from_child[1]);
  world.Start();
  const std::uint16_t port = world.port();
  (void)!::write(to_child[1], &port, sizeof port);
  const bool reported = ReadAll(from_child[0], &report, sizeof report);
  ::waitpid(pid, nullptr, 0);
  for (int fd : {to_child[0], to_child[1], from_child[0], from_child[1]}) ::close(fd);
  return reported;
}

void BM_PeakMemory(benchmark::State& state) {
  double peak_mb = 0;
  double start_mb = 0;
  for (auto _ : state) {
    ServerWorld world(vexcomm::bench::FilesScenario(1, kFileSize), false);
    ChildReport report;
    const bool reported = RunInChild(world, Child, report);
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

constexpr std::size_t kNotices = 500;
constexpr std::size_t kNoticeSize = 1u << 20;
constexpr std::size_t kDepositListSize = 50u << 20;

// A file fetch that the server answers with a notice of `kNoticeSize` octets for each of the
// `kNotices` files it announced, then ends with an error.
std::string NoticesScenario(std::size_t notice_size) {
  std::string files;
  for (std::size_t nr = 1; nr <= kNotices; ++nr) {
    if (nr > 1) files += ",";
    files += R"({"nr": )" + std::to_string(nr) + R"(, "name": "f.txt", "content": "x"})";
  }
  return std::string(R"({"installations": [{"blz": ")") + vexcomm::bench::kBlz +
         R"(", "kundennr": ")" + vexcomm::bench::kKundenNr + R"(", "files": [)" + files +
         R"(]}], "rules": [{"code": "AKGET", "nth": )" + std::to_string(kNotices + 1) +
         R"(, "error": {"number": "9057", "text": "Ende"}}, {"code": "AKGET", "notice": )"
         R"({"number": "11", "text": ")" +
         std::string(notice_size, 'n') + R"("}}]})";
}

// Providers of three products with four tiers each, repeated by the server to 50 MB.
std::string DepositScenario() {
  const std::string entry = "#" + vexcomm::bench::TagesgeldList(1);
  return R"({"tagesgeld": {"datum": "06.12.2026", "list_repeat": {"text": ")" + entry +
         R"(", "count": )" + std::to_string(kDepositListSize / entry.size()) + "}}}";
}

// The command-line host in a child forked while this process is still small (its peak as the
// kernel counts it includes what the child had before exec): it waits for the server's port,
// then runs `command` against it. Returns its peak resident memory in kB, or -1.
long ToolPeakKb(ServerWorld& world, const char* command, int& status) {
  const auto dir = [&world](const char* name) { return (world.root() / name).string(); };
  std::vector<std::string> args = {VEXCOMM_CLI_BINARY, "--ini-dir", dir("ini"),
                                   "--data-dir",       dir("data"), "--registry-dir",
                                   dir("registry"),    "--ca-file", world.ca_file().string(),
                                   "--connect-to",     "",          "--out",
                                   dir("out"),         command};
  int to_child[2];
  if (::pipe(to_child) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {
    std::uint16_t port = 0;
    if (!ReadAll(to_child[0], &port, sizeof port)) ::_exit(127);
    args[10] = std::string(vexcomm::bench::kHost) + ":443:127.0.0.1:" + std::to_string(port);
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  world.Start();
  world.ResetIdentity();
  const std::uint16_t port = world.port();
  (void)!::write(to_child[1], &port, sizeof port);
  for (int fd : to_child) ::close(fd);
  rusage usage{};
  if (::wait4(pid, &status, 0, &usage) != pid) return -1;
  return usage.ru_maxrss;
}

// The command-line host: 500 server notices of 1 MB each in one run (arg 0); one
// overnight-money reply of 50 MB, which its default limit refuses (arg 1); and, for the
// process's own memory, 500 notices of one octet (arg 2).
void BM_ToolPeakMemory(benchmark::State& state) {
  const bool deposit = state.range(0) == 1;
  const std::size_t notice_size = state.range(0) == 2 ? 1 : kNoticeSize;
  const std::size_t largest = deposit ? kDepositListSize : notice_size;
  double peak_mb = 0;
  for (auto _ : state) {
    ServerWorld world(deposit ? DepositScenario() : NoticesScenario(notice_size), false);
    int status = -1;
    const long peak_kb = ToolPeakKb(world, deposit ? "tagesgeld" : "get-new", status);
    // The notices' run ends with the server's error, the deposit's with the refusal.
    if (peak_kb < 0 || !WIFEXITED(status) || WEXITSTATUS(status) == 0 ||
        WEXITSTATUS(status) == 127) {
      state.SkipWithError("the tool did not run as expected");
      break;
    }
    peak_mb = static_cast<double>(peak_kb) / 1024;
  }
  state.counters["largest_reply_MB"] = static_cast<double>(largest) / (1 << 20);
  state.counters["peak_MB"] = peak_mb;
  state.counters["ratio"] = peak_mb * (1 << 20) / static_cast<double>(largest);
}
BENCHMARK(BM_ToolPeakMemory)->Arg(0)->Arg(1)->Arg(2)->Iterations(1)->Unit(benchmark::kMillisecond);

// A host that asks for the overnight-money offers. With `read_tree`, as for the 50 MB reply: its
// limit raised, it reads every node of the tree, as the command-line host does when it prints
// it (what the deposit model costs); without, as the component's own limit leaves it.
[[noreturn]] void TagesgeldChild(ServerWorld& world, int port_in, int report_out, bool read_tree) {
  ChildReport report;
  std::uint16_t port = 0;
  if (ReadAll(port_in, &port, sizeof port)) {
    world.UsePort(port);
    world.ResetIdentity();
    report.start_kb = StatusKb("VmRSS:");
    vexcomm::Module module(world.Host());
    if (read_tree) module.SetMaxNonFileFrameBytes(64u << 20);
    auto vc = vexcomm::VexComm::Create(module);
    vc->SetSocket(module.CreateSocket(world.Socket()));
    vc->SetModus(vexcomm::vexCommTGA);
    vc->Send();
    report.fehler = vc->Fehler()->Code;
    auto anbieter = vc->Tagesgeld()->Anbieter();
    for (int32_t a = 1; read_tree && a <= anbieter->Count(); ++a) {
      auto produkte = anbieter->Item(a)->Produkte();
      for (int32_t p = 1; p <= produkte->Count(); ++p) {
        const auto zinsen = produkte->Item(p)->Zinsen();
        report.files += 1;
        report.bytes += static_cast<std::uint64_t>(zinsen->Count());
      }
    }
    report.peak_kb = StatusKb("VmHWM:");
  }
  (void)!::write(report_out, &report, sizeof report);
  ::_exit(0);
}

[[noreturn]] void DepositChild(ServerWorld& world, int port_in, int report_out) {
  TagesgeldChild(world, port_in, report_out, true);
}

[[noreturn]] void EmptyElementsChild(ServerWorld& world, int port_in, int report_out) {
  TagesgeldChild(world, port_in, report_out, false);
}

// A peak against the one reply that caused it.
void CountPeak(benchmark::State& state, double peak_mb, std::size_t reply) {
  state.counters["reply_MB"] = static_cast<double>(reply) / (1 << 20);
  state.counters["peak_MB"] = peak_mb;
  state.counters["ratio"] = peak_mb * (1 << 20) / static_cast<double>(reply);
}

void BM_DepositPeakMemory(benchmark::State& state) {
  double peak_mb = 0;
  for (auto _ : state) {
    ServerWorld world(DepositScenario(), false);
    ChildReport report;
    const bool reported = RunInChild(world, DepositChild, report);
    // Every product of the list has its four tiers.
    if (!reported || report.fehler != 0 || report.files == 0 ||
        report.bytes != 4u * static_cast<std::uint64_t>(report.files)) {
      state.SkipWithError("the child did not build the tree");
      break;
    }
    peak_mb = static_cast<double>(report.peak_kb) / 1024;
  }
  CountPeak(state, peak_mb, kDepositListSize);
}
BENCHMARK(BM_DepositPeakMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

// An overnight-money reply of empty elements ("VEXMSG:2:AITGA:x::::…:MSGEND") just under the
// 16 MiB limit for non-file replies: one element per octet, so what the element list costs per
// element shows.
constexpr std::size_t kEmptyElementsReply = (16u << 20) - 64;

void BM_EmptyElementsPeakMemory(benchmark::State& state) {
  const std::size_t colons = kEmptyElementsReply - std::string_view("VEXMSG:2:AITGA:x:::").size() -
                             std::string_view(":MSGEND").size();
  double peak_mb = 0;
  for (auto _ : state) {
    ServerWorld world(R"({"tagesgeld": {"datum": "x", "list_repeat": {"text": ":", "count": )" +
                          std::to_string(colons) + "}}}",
                      false);
    ChildReport report;
    if (!RunInChild(world, EmptyElementsChild, report) || report.fehler != 0) {
      state.SkipWithError("the child did not take the reply");
      break;
    }
    peak_mb = static_cast<double>(report.peak_kb) / 1024;
  }
  CountPeak(state, peak_mb, kEmptyElementsReply);
}
BENCHMARK(BM_EmptyElementsPeakMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
