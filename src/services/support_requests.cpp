#include "services/support_requests.h"

#include <string>

#include "services/run_state.h"
#include "transport/frame.h"

namespace vexcomm::services {

void SendeAKLOG(RunState& state) {
  const config::clsUserDaten& user = state.user;
  // Only the support log may hold ":" and line breaks: it alone travels length-prefixed.
  std::string support_log = transport::LengthPrefixed(state.log_support);
  SendRequest(state, transport::BuildRequest(
                         "AKLOG", {user.BLZ, user.KundenNr, user.Vorname, user.Nachname, user.EMail,
                                   state.log_datum, state.log_text, support_log}));
}

void SendeAKPWD(RunState& state) {
  const config::clsUserDaten& user = state.user;
  std::string today = state.host.date_to_text(state.host.today());
  SendRequest(state, transport::BuildRequest(
                         "AKPWD", {user.BLZ, user.KundenNr, user.Vorname, user.Nachname, user.EMail,
                                   today, state.log_text, state.log_datum}));
}

}  // namespace vexcomm::services
