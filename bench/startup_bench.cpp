// The vexcomm program as a user starts it: whole processes, from spawn to exit, against floors
// measured in the same run. A short run (check-new with nothing new over TLS on loopback)
// against a minimal OpenSSL client doing the same exchange (vexcomm_tls_client); a local
// command (user show) against /bin/true; and get-new of 10,000 files of 1 KB saved into a
// folder against the library's own fetch of them (FetchWithComponent, no files written).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/server_world.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using vexcomm::bench::ServerWorld;

constexpr int kWarmUp = 3;
constexpr int kSamples = 15;

// Runs the program with standard output and error on /dev/null and `env` added to this
// process's environment; the wall time in milliseconds, or a negative value when it failed.
double TimeProcess(const std::vector<std::string>& args,
                   const std::map<std::string, std::string>& env = {}) {
  std::vector<std::string> environment;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    if (!env.contains(entry.substr(0, entry.find('=')))) environment.push_back(entry);
  }
  for (const auto& [key, value] : env) environment.push_back(key + "=" + value);
  std::vector<char*> argv;
  std::vector<std::string> copy = args;
  for (auto& arg : copy) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (auto& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const auto start = Clock::now();
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return -1;
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ms : -1;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// The medians of the program and of the others (its floor first, then references) over the same
// minutes: they take turns, after a warm-up each. The program's is the iteration's time; each
// other's goes into its counter, and the ratio is against the first.
struct Other {
  std::vector<std::string> args;
  const char* counter;
};
void TimeInTurns(benchmark::State& state, const std::vector<std::string>& program,
                 const std::vector<Other>& others, const std::map<std::string, std::string>& env) {
  double program_ms = 0;
  std::vector<double> others_ms(others.size());
  for (auto _ : state) {
    std::vector<std::vector<double>> times(others.size() + 1);
    for (int i = 0; i < kWarmUp + kSamples; ++i) {
      for (std::size_t p = 0; p <= others.size(); ++p) {
        const double t = TimeProcess(p == 0 ? program : others[p - 1].args, env);
        if (t < 0) {
          state.SkipWithError("a program failed");
          return;
        }
        if (i >= kWarmUp) times[p].push_back(t);
      }
    }
    program_ms = Median(times[0]);
    for (std::size_t p = 0; p < others.size(); ++p) others_ms[p] = Median(times[p + 1]);
    state.SetIterationTime(program_ms / 1e3);
  }
  for (std::size_t p = 0; p < others.size(); ++p) state.counters[others[p].counter] = others_ms[p];
  state.counters["ratio"] = program_ms / others_ms[0];
}

std::string Folder(const ServerWorld& world, const char* name) {
  return (world.root() / name).string();
}

// The global options that point vexcomm at the world's folders and server.
std::vector<std::string> Vexcomm(const ServerWorld& world, std::vector<std::string> command,
                                 const std::string& out = "out") {
  std::vector<std::string> args = {
      VEXCOMM_CLI_BINARY,
      "--ini-dir",
      Folder(world, "ini"),
      "--data-dir",
      Folder(world, "data"),
      "--registry-dir",
      Folder(world, "registry"),
      "--ca-file",
      world.ca_file().string(),
      "--connect-to",
      std::string(vexcomm::bench::kHost) + ":443:127.0.0.1:" + std::to_string(world.port()),
      "--out",
      Folder(world, out.c_str())};
  args.insert(args.end(), command.begin(), command.end());
  return args;
}

// No config file of the user's, no terminal: the program as a script runs it.
std::map<std::string, std::string> Environment(const ServerWorld& world) {
  return {{"XDG_CONFIG_HOME", world.root().string()}, {"TERM", "dumb"}};
}

void BM_StartupShortRun(benchmark::State& state) {
  static const auto world = std::make_unique<ServerWorld>(
      std::string(R"({"installations": [{"blz": ")") + vexcomm::bench::kBlz +
      R"(", "kundennr": ")" + vexcomm::bench::kKundenNr + R"(", "files": []}]})");
  world->ResetIdentity();
  const std::vector<std::string> client = {VEXCOMM_TLS_CLIENT,
                                           vexcomm::bench::kHost,
                                           "127.0.0.1",
                                           std::to_string(world->port()),
                                           world->ca_file().string(),
                                           std::string("VEXMSG:2:AKNEW:") + vexcomm::bench::kBlz +
                                               ":" + vexcomm::bench::kKundenNr + ":0:5:MSGEND"};
  TimeInTurns(state, Vexcomm(*world, {"check-new"}), {{client, "client_ms"}}, Environment(*world));
}
BENCHMARK(BM_StartupShortRun)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_StartupLocalCommand(benchmark::State& state) {
  static const auto world = std::make_unique<ServerWorld>(R"({"installations": []})");
  world->ResetIdentity();
  // For reference, a program that only loads the library: what any host of it pays at start.
  TimeInTurns(state, Vexcomm(*world, {"user", "show"}),
              {{{"/bin/true"}, "true_ms"}, {{VEXCOMM_EMPTY_HOST}, "library_ms"}},
              Environment(*world));
}

BENCHMARK(BM_StartupLocalCommand)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

// The library's fetch and the program's, in the same iteration, taking turns at going first.
void BM_ToolManyFiles(benchmark::State& state) {
  constexpr int kFiles = 10000;
  static const auto world =
      std::make_unique<ServerWorld>(vexcomm::bench::FilesScenario(kFiles, 1024));
  double tool_ms = 0, library_ms = 0;
  static int round = 0;
  for (auto _ : state) {
    const bool library_first = round++ % 2 == 0;
    // A folder of its own each time, removed only with the world: a file system without a
    // journal (ext4 as some virtual machines have it) makes new files slow to create for minutes
    // after many were deleted.
    const std::string out = "out-" + std::to_string(round);
    double library = 0;
    auto run_library = [&] {
      const auto run = vexcomm::bench::FetchWithComponent(*world);
      library = run.files == kFiles && run.fehler == 0 ? run.seconds * 1e3 : -1;
    };
    if (library_first) run_library();
    world->ResetIdentity();
    const double tool = TimeProcess(Vexcomm(*world, {"get-new"}, out), Environment(*world));
    const auto saved = std::distance(std::filesystem::directory_iterator(world->root() / out),
                                     std::filesystem::directory_iterator());
    if (!library_first) run_library();
    // Every file and the folder's record.
    if (tool < 0 || library < 0 || saved != kFiles + 1) {
      state.SkipWithError("a fetch did not receive every file");
      return;
    }
    state.SetIterationTime(tool / 1e3);
    tool_ms += tool;
    library_ms += library;
  }
  state.counters["library_ms"] = library_ms / static_cast<double>(state.iterations());
  state.counters["ratio"] = tool_ms / library_ms;
}
BENCHMARK(BM_ToolManyFiles)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
