#pragma once

#include <span>
#include <string_view>

#include "services/run_state.h"

namespace vexcomm::services {

using ReplyHandler = void (*)(RunState&);

struct ReplyHandlerEntry {
  std::string_view code;
  ReplyHandler handler;
};

// Cuts a complete frame into the element list, checks it and calls the handler of its reply
// code from `handlers` (filled by the component); records the code as handled_reply when the
// handler completed. A failure inside is logged, never raised. The frame is let go once it is
// split, so a large file is not held twice while the host handles it.
void DispatchReceivedFrame(RunState& state, std::string&& frame,
                           std::span<const ReplyHandlerEntry> handlers);

// The two general replies: a server error and a server notice.
void VerarbeiteAIERR(RunState& state);
void VerarbeiteAIRMG(RunState& state);

}  // namespace vexcomm::services
