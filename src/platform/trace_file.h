#pragma once

#include <string>
#include <string_view>

#include <vexcomm/trace.h>

namespace vexcomm::platform {

// Hands a record to the sink; a failing sink never disturbs the run.
void Trace(TraceSink& sink, const TraceRecord& record) noexcept;

// Lower-case hex of the SHA-256 of the octets.
std::string Sha256Hex(std::string_view octets);

// `text` as a JSON string, quotes included.
void AppendJsonString(std::string& out, std::string_view text);

}  // namespace vexcomm::platform
