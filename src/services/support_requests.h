#pragma once

namespace vexcomm::services {

struct RunState;

// The support log (operation 19): identity, contact data, log date, log text and the support
// log as a length-prefixed element. The host's texts stay in the state for the next run.
void SendeAKLOG(RunState& state);

// The password request (operation 20): identity, contact data, today's date from the host's
// date converter, then log text before log date (the opposite order to AKLOG).
void SendeAKPWD(RunState& state);

}  // namespace vexcomm::services
