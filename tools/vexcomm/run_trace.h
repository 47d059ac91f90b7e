#pragma once

#include <memory>

#include <vexcomm/trace.h>

#include "command_line.h"
#include "output.h"

namespace vexcomm::cli {

// The trace file of --trace, or none; with --verbose also a sink that shows the server's
// certificate and key pin. UsageError when the file cannot be written.
std::shared_ptr<TraceSink> OpenRunTrace(const GlobalOptions& global, Output& output);

}  // namespace vexcomm::cli
