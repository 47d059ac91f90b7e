#pragma once

#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "services/run_state.h"

namespace vexcomm::services {

// What a request field may reveal of the user in a trace.
enum class Privacy : uint8_t {
  kNone,
  kIdentity,      // the same number of "*", its ":" kept so the elements stay in place
  kText,          // its length only
  kPrefixedText,  // a length-prefixed text: its length only
};

struct RequestField {
  std::string_view text;
  Privacy privacy = Privacy::kNone;
};

// Frames a request from its fields, tells the trace of it (masked field by field unless the
// host asked otherwise) and sends it.
void SendRequest(RunState& state, std::string_view code,
                 std::initializer_list<RequestField> fields);

// Tells the trace, if there is one, of a whole received frame (a large file content masked),
// of a request without private fields, and of the run's end.
void TraceReceived(const RunState& state, std::string_view frame);
void TraceSent(const RunState& state, std::string_view frame);
void TraceEnd(const RunState& state);

}  // namespace vexcomm::services
