#pragma once

#include <string_view>

#include <vexcomm/deposits.h>

#include "deposits/condition_list.h"

namespace vexcomm::services {
struct RunState;
}

namespace vexcomm::deposits {

// Request builders: "AKTGA" / "AKFGA" without fields. A failure to send propagates.
void SendeAKTGA(services::RunState& state);
void SendeAKFGA(services::RunState& state);

// Reply handlers: rebuild state.tagesgeld / state.festgeld from the element list. A failure is
// shown in a message box titled with the handler's name; nothing is thrown.
void VerarbeiteAITGA(services::RunState& state);
void VerarbeiteAIFGA(services::RunState& state);

}  // namespace vexcomm::deposits
