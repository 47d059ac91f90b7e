#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <vexcomm/operation.h>

#include "services/run_state.h"

namespace vexcomm::services {

// Request builders and reply handlers of the message and file fetch.
void SendeAKNEW(RunState& state);
void SendeAKGET(RunState& state);
void VerarbeiteAINEW(RunState& state);
void VerarbeiteDatei(RunState& state);

// The rows' rules. A fetch goes on while files wait. Checking for new messages becomes a fetch
// when the reply announced any (a count other than 0); else the run goes on with its list.
Next AfterFileReply(const RunState& state);
Next AfterCheckNewReply(const RunState& state);

// The values of a NeueDatei event, read from an AIGET reply in the element list, the content
// moved out of the list (a large file is not held twice). Empty when element 13 holds no
// length-prefixed content (no event for that file).
std::optional<NeueDateiEvent> TakeNeueDatei(transport::clsElement& elements);

// "Hole Nachricht 1 von 3": numbers in the form with a leading blank for zero and positives.
std::string NumberWithSign(int32_t value);

}  // namespace vexcomm::services
