// vexcomm: the command-line host of the VexComm5 component.
#include <malloc.h>

#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "command_line.h"
#include "commands.h"
#include "output.h"
#include "signal_cancel.h"

int main(int argc, char** argv) {
  using namespace vexcomm::cli;
  // First, so that every thread started later has the signals blocked.
  SignalCancel signals;
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
    std::cerr << "vexcomm: " << e.what() << "\n(vexcomm --help shows the commands)\n";
    return kExitUsage;
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
  output.SetCommand(line.command->name);
  try {
    return Execute(line, output);
  } catch (const UsageError& e) {
    output.Note(e.what());
    return kExitUsage;
  } catch (const std::exception& e) {
    output.Note(e.what());
    return kExitRunFailed;
  }
}
