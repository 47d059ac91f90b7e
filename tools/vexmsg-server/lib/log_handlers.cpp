// AKLOG and AKPWD: the support log and the password request. The server keeps them in its
// request record; the reply is a notice, or whatever a rule of the scenario says instead.
#include "vexmsg-server/lib/request_handlers.h"

namespace vexmsg {
namespace {

// Identity, contact data and the two host texts, then the support log or the date: eight
// fields. More means a ":" in a field that should have travelled length-prefixed.
constexpr std::size_t kFields = 8;

Reply Received(const Scenario& scenario, const RequestFrame& request) {
  if (request.fields.size() != kFields) return BadRequest(scenario);
  return NoticeReply(scenario, "10", "Erhalten");
}

}  // namespace

Reply HandleAKLOG(const Scenario& scenario, const RequestFrame& request) {
  return Received(scenario, request);
}

Reply HandleAKPWD(const Scenario& scenario, const RequestFrame& request) {
  return Received(scenario, request);
}

}  // namespace vexmsg
