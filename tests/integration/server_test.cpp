// The reference server: its frame reader, reply builder, scenario and handlers, and the server
// itself answering real TLS clients.
#include "vexmsg-server/lib/server.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "integration/socket_fixture.h"
#include "vexmsg-server/lib/request_handlers.h"
#include "vexmsg-server/lib/request_reader.h"
#include "vexmsg-server/lib/scenario.h"

namespace vexmsg {
namespace {

// Read as the component reads a frame: a stated length is trusted, and a wrong one is the
// client's fault, named. Good contents and empty fields are the support log's runs over TLS.
TEST(RequestReaderTest, ElementsAndFieldsOfARequest) {
  struct Case {
    std::string frame;
    std::vector<std::string> elements;
    std::string fault;  // a part of the fault's text; "" for none
  };
  const Case cases[] = {
      {"VEXMSG:2:AKLOG:@0@:MSGEND", {"VEXMSG", "2", "AKLOG", "@0@", "MSGEND"}, ""},
      {"VEXMSG:2:AKLOG:@x@a:b", {"VEXMSG", "2", "AKLOG", "@x@a", "b"}, ""},
      {"VEXMSG:2:AKLOG:@3@ab:cd:x:MSGEND",
       {"VEXMSG", "2", "AKLOG", "@3@ab:", "d", "x", "MSGEND"},
       "element 4 states 3 characters; after them stands \"c\", not \":\""},
      {"VEXMSG:2:AKLOG:@1@abc:MSGEND",
       {"VEXMSG", "2", "AKLOG", "@1@a", "c", "MSGEND"},
       "element 4 states 1 characters; after them stands \"b\", not \":\""},
      {"VEXMSG:2:AKLOG:@9@ab", {"VEXMSG", "2", "AKLOG", "@9@ab"}, "the frame ends after 2"},
      {"VEXMSG:2:AKLOG:@99999999999999999999999@ab",
       {"VEXMSG", "2", "AKLOG", "@99999999999999999999999@ab"},
       "element 4"},
      {"", {""}, ""},
  };
  for (const auto& c : cases) {
    std::vector<std::string> got;
    for (auto e : SplitElements(c.frame)) got.emplace_back(e);
    EXPECT_EQ(got, c.elements) << c.frame;
    const std::string fault = ParseRequest(c.frame).fault;
    EXPECT_EQ(fault.empty(), c.fault.empty()) << c.frame;
    EXPECT_NE(fault.find(c.fault), std::string::npos) << c.frame << ": " << fault;
  }
  const RequestFrame request = ParseRequest("VEXMSG:2:AKNEW:M\xFCller:\x80:17:MSGEND");
  EXPECT_EQ(request.code, "AKNEW");
  EXPECT_EQ(request.fields, (std::vector<std::string>{"Müller", "€", "17"}));
  EXPECT_EQ(request.text, "VEXMSG:2:AKNEW:Müller:€:17:MSGEND");
  EXPECT_EQ(request.wire, "VEXMSG:2:AKNEW:M\xFCller:\x80:17:MSGEND");
}

TEST(ScenarioTest, MalformedScenariosNameThePlace) {
  struct Case {
    std::string json;
    std::string place;
  };
  const Case cases[] = {
      {"{", "JSON"},
      {R"({"installations": {}})", "installations"},
      {R"({"installations": [{"files": [{"name": "a"}]}]})", "installations[0].files[0]"},
      {R"({"installations": [{"files": [{"nr": 1.5}]}]})", "files[0].nr"},
      {R"({"installations": [{"files": [{"nr": 1, "content_file": "missing.txt"}]}]})",
       "content_file"},
      {R"({"installations": [{"files": [{"nr": 7, "url": "https://x"}]}]})",
       "files[0].url: file nr 7: \":\""},
      {R"({"installations": [{"files": [{"nr": 1}, {"nr": 2, "titel": "a:b"}]}]})",
       "files[1].titel: file nr 2"},
      {R"({"rules": [{"close": "sometimes"}]})", "rules[0].close"},
      {R"({"rules": [{"error": "9999"}]})", "rules[0].error"},
  };
  for (const auto& c : cases) {
    try {
      Scenario::Parse(c.json);
      ADD_FAILURE() << "accepted: " << c.json;
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(c.place), std::string::npos) << e.what();
    }
  }
}

TEST(ScenarioTest, TheSampleScenarioLoadsAndServesEveryRequest) {
  const char* source = std::getenv("VEXCOMM_SOURCE_DIR");
  ASSERT_NE(source, nullptr) << "run through ctest";
  const Scenario s =
      Scenario::Load(std::filesystem::path(source) / "tools/vexmsg-server/sample-scenario.json");
  ASSERT_EQ(s.installations.size(), 2u);
  const auto& files = s.installations[0].files;
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(files[1].content->size(), 16u * 65536u);
  EXPECT_EQ(files[2].typ, "DELETE");
  EXPECT_EQ(files[2].ref, files[0].nr);
  for (const char* request :
       {"AKTGA:MSGEND", "AKFGA:MSGEND", "AKWDT:MSGEND", "AKWPK:766403:::01.12.2026::MSGEND",
        "AKWPK::DE0008404005::01.12.2026:MSGEND", "AKLOG:1:2:V:N:E:D:T:@3@a:b:MSGEND",
        "AKPWD:1:2:V:N:E:D:T:L:MSGEND"}) {
    const std::string reply =
        Answer(s, ParseRequest(std::string("VEXMSG:2:") + request)).ToString();
    EXPECT_FALSE(reply.starts_with("VEXMSG:2:AIERR")) << request << " -> " << reply;
  }
}

constexpr const char* kSeries = R"({"installations": [
  {"blz": "11122233", "kundennr": "4711", "files": [
    {"nr": 18, "name": "a.txt", "typ": "TXT", "von": "01.01.2026", "bis": "31.12.2026",
     "dauer": 10, "wichtigkeit": 2, "titel": "Titel", "url": "u", "content": "ab:cd"},
    {"nr": 19, "typ": "DELETE", "ref": 18},
    {"nr": 25, "name": "b.txt", "content": "x", "ref": 23}]},
  {"blz": "99988877", "kundennr": "1"}]})";

// The ordinary series (counts, gaps, deletions, references) is proven by the component's
// fetches over TLS; here what those never ask.
TEST(RequestHandlersTest, RepliesFollowTheInstallationsSeries) {
  const Scenario s = Scenario::Parse(kSeries);
  const std::pair<std::string, std::string> cases[] = {
      {"VEXMSG:2:AKNEW:11122233:4711:0:5:MSGEND", "VEXMSG:2:AINEW:3:MSGEND"},
      {"VEXMSG:2:AKNEW:11122233:4711:24:5:MSGEND", "VEXMSG:2:AINEW:1:MSGEND"},
      {"VEXMSG:2:AKNEW:11122233:4711:abc:5:MSGEND", "VEXMSG:2:AINEW:3:MSGEND"},
      {"VEXMSG:2:AKNEW:99988877:1:0:5:MSGEND", "VEXMSG:2:AINEW:0:MSGEND"},
      {"VEXMSG:2:AKNEW:11122233:4712:0:5:MSGEND",
       "VEXMSG:2:AIERR:9056:Kunde nicht gefunden:MSGEND"},
      {"VEXMSG:2:AKGET:11122233:4711:25:5:MSGEND",
       "VEXMSG:2:AIERR:9057:Keine weitere Nachricht vorhanden:MSGEND"},
      {"VEXMSG:2:AKGET:1:2:0:5:MSGEND", "VEXMSG:2:AIERR:9056:Kunde nicht gefunden:MSGEND"},
      {"VEXMSG:2:AKXYZ:MSGEND", "VEXMSG:2:AIERR:9002:Unbekannte Anfrage AKXYZ:MSGEND"},
  };
  for (const auto& [request, reply] : cases) {
    EXPECT_EQ(Answer(s, ParseRequest(request)).ToString(), reply) << request;
  }
}

// The server answering the component's own socket.
using ServerTest = vexcomm::test::TlsSocketTest;

// Refusals, raw replies, pieces, silence and closing instead of a reply are proven by the
// component's and the command line's runs over this server.
TEST_F(ServerTest, RulesReplaceRepliesAndFaultTheTransport) {
  const std::string aknew = "VEXMSG:2:AKNEW:11122233:4711:0:5:MSGEND";
  const std::string akget = "VEXMSG:2:AKGET:11122233:4711:0:5:MSGEND";
  const std::string ainew = "VEXMSG:2:AINEW:3:MSGEND";
  const std::string aiget =
      "VEXMSG:2:AIGET:18:a.txt:TXT:01.01.2026:31.12.2026:10:2:Titel:u:@5@ab:cd:0:MSGEND";
  struct Case {
    const char* name;
    std::string rules;
    std::vector<std::string> requests;
    std::string received;
    std::string kinds = "connect validate ready";
  };
  const Case cases[] = {
      {"the second request of any code gets a notice",
       R"([{"code": "*", "nth": 2, "notice": {"number": "10", "text": "Danke"}}])",
       {aknew, akget, akget},
       ainew + "VEXMSG:2:AIRMG:10:Danke:MSGEND" + aiget},
      {"a frame that never ends",
       R"([{"code": "AKNEW", "nth": 1, "unterminated": true}])",
       {aknew, aknew},
       "VEXMSG:2:AINEW:3:" + ainew},
      {"a request that is no frame, then a good one",
       "[]",
       {"HALLO", aknew},
       "VEXMSG:2:AIERR:9001:Ungültige Nachricht:MSGEND" + ainew},
      {"the end after the reply",
       R"([{"code": "AKGET", "close_after_reply": "clean"}])",
       {akget},
       aiget,
       "connect validate ready disconnect"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    StartServer(R"({"installations": [{"blz": "11122233", "kundennr": "4711", "files": [
        {"nr": 18, "name": "a.txt", "typ": "TXT", "von": "01.01.2026", "bis": "31.12.2026",
         "dauer": 10, "wichtigkeit": 2, "titel": "Titel", "url": "u", "content": "ab:cd"},
        {"nr": 19}, {"nr": 20}]}], "rules": )" +
                c.rules + "}");
    sink = std::make_shared<vexcomm::test::Sink>();
    Open(Options());
    ASSERT_TRUE(RunUntilReady()) << sink->Kinds();
    for (const auto& r : c.requests) sink->socket->Send(r);
    ASSERT_TRUE(RunUntil([&] {
      return sink->received.size() >= c.received.size() || sink->Ended();
    })) << sink->received;
    if (c.kinds.ends_with("disconnect")) {
      ASSERT_TRUE(RunUntil([&] { return sink->Ended(); }));
    }
    Settle();
    EXPECT_EQ(sink->received, c.received);
    EXPECT_EQ(sink->Kinds(), c.kinds);
    EXPECT_EQ(server->Requests(), c.requests);
    sink->socket->Close();
  }

  // A frame the client never finishes is recorded, as its fault, when the connection ends.
  sink = std::make_shared<vexcomm::test::Sink>();
  Open(Options());
  ASSERT_TRUE(RunUntilReady()) << sink->Kinds();
  const std::size_t before = server->Requests().size();
  sink->socket->Send("VEXMSG:2:AKLOG:1:2:V:N:E:D:T:@30@abc:MSGEND");
  Settle();  // the write goes out before the close
  sink->socket->Close();
  ASSERT_TRUE(RunUntil([&] { return server->Requests().size() > before; }));
  EXPECT_NE(server->RequestLog().back().fault.find("the connection ended inside the frame; "
                                                   "element 11 states 30 characters"),
            std::string::npos)
      << server->RequestLog().back().fault;
}

}  // namespace
}  // namespace vexmsg
