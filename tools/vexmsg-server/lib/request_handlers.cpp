#include "vexmsg-server/lib/request_handlers.h"

#include <algorithm>
#include <charconv>

#include "vexmsg-server/lib/handler_support.h"

namespace vexmsg {
namespace {

// AKNEW and AKGET: BLZ, KundenNr, DateiNr, version.
struct Identity {
  const Installation* installation = nullptr;
  std::int64_t datei_nr = 0;
};

Identity Identify(const Scenario& scenario, const RequestFrame& request) {
  Identity id;
  id.installation = scenario.FindInstallation(RequestField(request, 0), RequestField(request, 1));
  const std::string_view nr = RequestField(request, 2);
  std::from_chars(nr.data(), nr.data() + nr.size(), id.datei_nr);  // not a number: 0
  return id;
}

Reply UnknownInstallation(const Scenario& scenario) {
  return ErrorReply(scenario, kErrUnknownInstallation, "Kunde nicht gefunden");
}

}  // namespace

Reply HandleAKNEW(const Scenario& scenario, const RequestFrame& request) {
  const Identity id = Identify(scenario, request);
  if (!id.installation) return UnknownInstallation(scenario);
  std::int64_t count = 0;
  for (const auto& file : id.installation->files) count += file.nr > id.datei_nr ? 1 : 0;
  return std::move(Reply("AINEW", scenario.version).Field(count).End());
}

Reply HandleAKGET(const Scenario& scenario, const RequestFrame& request) {
  const Identity id = Identify(scenario, request);
  if (!id.installation) return UnknownInstallation(scenario);
  for (const auto& f : id.installation->files) {
    if (f.nr <= id.datei_nr) continue;
    Reply reply("AIGET", scenario.version);
    reply.Field(f.nr)
        .Field(f.name)
        .Field(f.typ)
        .Field(f.von)
        .Field(f.bis)
        .Field(f.dauer)
        .Field(f.wichtigkeit)
        .Field(f.titel)
        .Field(f.url)
        .LengthPrefixed(f.content)
        .Field(f.ref)
        .End();
    return reply;
  }
  return ErrorReply(scenario, kErrNoFurtherFile, "Keine weitere Nachricht vorhanden");
}

Reply ErrorReply(const Scenario& scenario, std::string_view number, std::string_view text) {
  return std::move(Reply("AIERR", scenario.version).Field(number).Field(text).End());
}

Reply NoticeReply(const Scenario& scenario, std::string_view number, std::string_view text) {
  return std::move(Reply("AIRMG", scenario.version).Field(number).Field(text).End());
}

Reply BadRequest(const Scenario& scenario) {
  return ErrorReply(scenario, kErrBadRequest, "Anfrage fehlerhaft");
}

const std::map<std::string, RequestHandler, std::less<>>& RequestHandlers() {
  static const std::map<std::string, RequestHandler, std::less<>> table = {
      {"AKNEW", HandleAKNEW}, {"AKGET", HandleAKGET}, {"AKTGA", HandleAKTGA},
      {"AKFGA", HandleAKFGA}, {"AKWDT", HandleAKWDT}, {"AKWPK", HandleAKWPK},
      {"AKLOG", HandleAKLOG}, {"AKPWD", HandleAKPWD},
  };
  return table;
}

Reply Answer(const Scenario& scenario, const RequestFrame& request) {
  const auto& table = RequestHandlers();
  auto it = table.find(request.code);
  if (it == table.end()) {
    return ErrorReply(scenario, kErrUnknownRequest, "Unbekannte Anfrage " + request.code);
  }
  try {
    return it->second(scenario, request);
  } catch (const SectionError& e) {
    // A colon in the text would shift the client's fields.
    std::string text = e.what();
    std::replace(text.begin(), text.end(), ':', ' ');
    return ErrorReply(scenario, kErrScenario, text);
  }
}

}  // namespace vexmsg
