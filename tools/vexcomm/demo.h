#pragma once

#include "command_line.h"
#include "output.h"

namespace vexcomm::cli {

// `vexcomm demo`: the reference server on loopback with built-in data and a throwaway CA, and
// the runs a home-banking application makes against it, each checked against that data.
// Returns 0 when every run ended as expected.
int RunDemo(const CommandLine& line, Output& output);

}  // namespace vexcomm::cli
