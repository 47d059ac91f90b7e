#include "services/support_requests.h"

#include <string>

#include "services/frame_trace.h"
#include "services/run_state.h"
#include "transport/frame.h"

namespace vexcomm::services {

void SendeAKLOG(RunState& state) {
  const config::clsUserDaten& user = state.user;
  // Only the support log may hold ":" and line breaks: it alone travels length-prefixed.
  const std::string support_log = transport::LengthPrefixed(state.log_support);
  SendRequest(state, "AKLOG",
              {{user.BLZ, Privacy::kIdentity},
               {user.KundenNr, Privacy::kIdentity},
               {user.Vorname, Privacy::kIdentity},
               {user.Nachname, Privacy::kIdentity},
               {user.EMail, Privacy::kIdentity},
               {state.log_datum, Privacy::kText},
               {state.log_text, Privacy::kText},
               {support_log, Privacy::kPrefixedText}});
}

void SendeAKPWD(RunState& state) {
  const config::clsUserDaten& user = state.user;
  const std::string today = state.host.date_to_text(state.host.today());
  SendRequest(state, "AKPWD",
              {{user.BLZ, Privacy::kIdentity},
               {user.KundenNr, Privacy::kIdentity},
               {user.Vorname, Privacy::kIdentity},
               {user.Nachname, Privacy::kIdentity},
               {user.EMail, Privacy::kIdentity},
               {today},
               {state.log_text, Privacy::kText},
               {state.log_datum, Privacy::kText}});
}

}  // namespace vexcomm::services
