// vexcomm: the command-line host of the VexComm5 component.
#include <malloc.h>

#include <algorithm>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "command_line.h"
#include "commands/commands.h"
#include "messages.h"
#include "output.h"
#include "signal_cancel.h"

int main(int argc, char** argv) {
  using namespace vexcomm::cli;
  // First, so that every thread started later has the signals blocked.
  SignalCancel signals;
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
