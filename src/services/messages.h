#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <vexcomm/vexcomm.h>

#include "services/run_state.h"

namespace vexcomm::services {

// Request builders and reply handlers of the message and file fetch.
void SendeAKNEW(RunState& state);
void SendeAKGET(RunState& state);
void VerarbeiteAINEW(RunState& state);
void VerarbeiteDatei(RunState& state);

// The values of a NeueDatei event, read from an AIGET reply in the element list, the content
// moved out of the list (a large file is not held twice). Empty when element 13 holds no
// length-prefixed content (no event for that file).
std::optional<NeueDateiEvent> TakeNeueDatei(transport::clsElement& elements);

// "Hole Nachricht 1 von 3": numbers in the form with a leading blank for zero and positives.
std::string NumberWithSign(int32_t value);

}  // namespace vexcomm::services
