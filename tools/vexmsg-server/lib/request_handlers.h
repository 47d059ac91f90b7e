#pragma once

#include <functional>
#include <map>
#include <string>

#include "vexmsg-server/lib/reply.h"
#include "vexmsg-server/lib/request_reader.h"
#include "vexmsg-server/lib/scenario.h"

namespace vexmsg {

// The server's own error numbers (AIERR element 4).
inline constexpr const char* kErrUnknownInstallation = "9056";
inline constexpr const char* kErrNoFurtherFile = "9057";
inline constexpr const char* kErrInvalidFrame = "9001";
inline constexpr const char* kErrUnknownRequest = "9002";
inline constexpr const char* kErrNoData = "9003";        // the scenario has no such section
inline constexpr const char* kErrScenario = "9004";      // the section cannot be served
inline constexpr const char* kErrBadRequest = "9005";    // a request with the wrong fields
inline constexpr const char* kErrUnknownStock = "9060";  // default; the scenario may set it
inline constexpr const char* kErrBadDate = "9061";       // a request date that is no date

Reply ErrorReply(const Scenario& scenario, std::string_view number, std::string_view text);
Reply NoticeReply(const Scenario& scenario, std::string_view number, std::string_view text);
// AIERR 9005: the request does not have the fields of its code.
Reply BadRequest(const Scenario& scenario);

// Answers one request from the scenario. Handlers hold no state: everything they need is in
// the scenario and the request.
using RequestHandler = std::function<Reply(const Scenario&, const RequestFrame&)>;

// The handlers of the table, each in the file of its service. A handler may throw
// SectionError (handler_support.h) for a scenario section it cannot serve.
Reply HandleAKNEW(const Scenario& scenario, const RequestFrame& request);
Reply HandleAKGET(const Scenario& scenario, const RequestFrame& request);
Reply HandleAKTGA(const Scenario& scenario, const RequestFrame& request);  // deposit_handlers
Reply HandleAKFGA(const Scenario& scenario, const RequestFrame& request);
Reply HandleAKWDT(const Scenario& scenario, const RequestFrame& request);  // quote_handlers
Reply HandleAKWPK(const Scenario& scenario, const RequestFrame& request);
Reply HandleAKLOG(const Scenario& scenario, const RequestFrame& request);  // log_handlers
Reply HandleAKPWD(const Scenario& scenario, const RequestFrame& request);

// The table of request codes the server answers; a new request is one handler and one line here.
const std::map<std::string, RequestHandler, std::less<>>& RequestHandlers();

// The reply to a request by the table; an unknown code is answered with AIERR 9002, a section
// the handler cannot serve with AIERR 9004 naming the place.
Reply Answer(const Scenario& scenario, const RequestFrame& request);

}  // namespace vexmsg
