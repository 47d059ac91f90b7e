#pragma once

#include <string>

#include "command_line.h"
#include "output.h"

namespace vexcomm::cli {

// The handlers of the command table, a file each under commands/: each runs its command and
// returns the exit status; UsageError for an input it refuses.
int RunOperation(const CommandLine& line, Output& output);  // operations.cpp: all that send
int UserShow(const CommandLine& line, Output& output);      // user.cpp
int UserSet(const CommandLine& line, Output& output);
int DbInitTemplate(const CommandLine& line, Output& output);  // db.cpp
int DbShow(const CommandLine& line, Output& output);
int DbDelete(const CommandLine& line, Output& output);
int DbExport(const CommandLine& line, Output& output);
int DbImport(const CommandLine& line, Output& output);
int DbChart(const CommandLine& line, Output& output);
int TraceShow(const CommandLine& line, Output& output);   // trace.cpp
int ConfigShow(const CommandLine& line, Output& output);  // config.cpp
// demo.cpp: the reference server on loopback with built-in data and a throwaway CA, and the
// runs a home-banking application makes against it, each checked against that data. Returns 0
// when every run ended as expected.
int RunDemo(const CommandLine& line, Output& output);

// version.cpp: `vexcomm --version`: the library and the libraries it runs on, as lines or one
// JSON line.
std::string VersionText(bool json);

}  // namespace vexcomm::cli
