// vexcomm: the command-line host of the VexComm5 component.
#include <malloc.h>
#include <signal.h>

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "command_line.h"
#include "commands/commands.h"
#include "messages.h"
#include "output.h"
#include "signal_cancel.h"

namespace {

// A command that runs no operation ends at once on Ctrl-C, SIGTERM or SIGHUP, with the status a
// signal outside a run gives; it needs no thread to take them.
void EndOnSignal() {
  struct sigaction action {};
  action.sa_handler = [](int signal_number) { std::_Exit(128 + signal_number); };
  sigemptyset(&action.sa_mask);
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    ::sigaction(signal_number, &action, nullptr);
  }
}

}  // namespace

int main(int argc, char** argv) {
  using namespace vexcomm::cli;
  InitMessages();
  // Large buffers (a file, a long notice) go back to the system when freed. A fixed threshold
  // stops the allocator from raising it after the first one, which would keep the later ones
  // resident: memory then follows what a run holds, not what the server has sent.
  mallopt(M_MMAP_THRESHOLD, 256 * 1024);
  std::ios::sync_with_stdio(false);
  const std::vector<std::string> args(argv + 1, argv + argc);
  CommandLine line;
  try {
    line = ParseCommandLine(args);
  } catch (const UsageError& e) {
    // A script asked for JSON gets its result line even for a line that could not be read.
    const auto end = std::find(args.begin(), args.end(), "--");
    Output output(std::find(args.begin(), end, "--json") != end, false, false, std::cout,
                  std::cerr);
    output.Fail(kExitUsage, "usage", e.what());
    std::cerr << Tr("(vexcomm --help shows the commands)") << "\n";
    return output.Finish(kExitUsage);
  }
  if (line.help) {
    std::cout << HelpText(line);
    return kExitOk;
  }
  if (line.version) {
    std::cout << VersionText(line.global.json);
    return kExitOk;
  }
  // Before any thread starts, so that every thread has the signals blocked.
  std::optional<SignalCancel> signals;
  if (Sends(*line.command) || line.command->name == "demo") {
    signals.emplace();
  } else {
    EndOnSignal();
  }
  Output output(line.global.json, line.global.verbose, Output::StderrIsTerminal(), std::cout,
                std::cerr);
  if (line.global.quiet) output.SetQuiet();
  output.SetCommand(line.command->name);
  try {
    return output.Finish(Execute(line, output));
  } catch (const UsageError& e) {
    return output.Finish(output.Fail(kExitUsage, "input", e.what()));
  } catch (const LocalError& e) {
    return output.Finish(output.Fail(kExitLocalStore, "local", e.what()));
  } catch (const std::exception& e) {
    return output.Finish(output.Fail(kExitRunFailed, "failed", e.what()));
  }
}
