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

Reply ErrorReply(const Scenario& scenario, std::string_view number, std::string_view text);
Reply NoticeReply(const Scenario& scenario, std::string_view number, std::string_view text);

// Answers one request from the scenario. Handlers hold no state: everything they need is in
// the scenario and the request.
using RequestHandler = std::function<Reply(const Scenario&, const RequestFrame&)>;

// The table of request codes the server answers; a new request is one handler and one line here.
const std::map<std::string, RequestHandler, std::less<>>& RequestHandlers();

// The reply to a request by the table; an unknown code is answered with AIERR 9002.
Reply Answer(const Scenario& scenario, const RequestFrame& request);

}  // namespace vexmsg
