// The reference server: its frame reader, reply builder, scenario and handlers, and the server
// itself answering real TLS clients.
#include "vexmsg-server/lib/server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/message_loop.h"
#include "platform/socket/tls_socket.h"
#include "support/loop_helpers.h"
#include "support/test_pki.h"
#include "vexmsg-server/lib/reply.h"
#include "vexmsg-server/lib/request_handlers.h"
#include "vexmsg-server/lib/request_reader.h"
#include "vexmsg-server/lib/scenario.h"

namespace vexmsg {
namespace {

using namespace std::chrono_literals;

std::vector<std::string> Drain(RequestReader& reader) {
  std::vector<std::string> frames;
  while (auto frame = reader.Next()) frames.push_back(*frame);
  return frames;
}

TEST(RequestReaderTest, FramesComeOutWholeWhereverTheStreamIsCut) {
  const std::string log = "a:MSGEND\r\nb@c:d";  // a support log may hold the terminator
  const std::vector<std::string> frames = {
      "VEXMSG:2:AKNEW:11122233:4711:17:5:MSGEND",
      "VEXMSG:2:AKLOG:1:2:@" + std::to_string(log.size()) + "@" + log + ":5:MSGEND",
      "VEXMSG:2:AKTGA:MSGEND",
      "VEXMSG:2:AKNEW:1:2::5:MSGEND",
  };
  std::string stream;
  for (const auto& f : frames) stream += f;

  for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
    RequestReader reader;
    reader.Append(stream.substr(0, cut));
    auto got = Drain(reader);
    reader.Append(stream.substr(cut));
    for (auto& f : Drain(reader)) got.push_back(std::move(f));
    ASSERT_EQ(got, frames) << "cut at " << cut;
    ASSERT_FALSE(reader.bad());
  }
  RequestReader bytewise;
  std::vector<std::string> got;
  for (char c : stream) {
    bytewise.Append(std::string_view(&c, 1));
    for (auto& f : Drain(bytewise)) got.push_back(std::move(f));
  }
  EXPECT_EQ(got, frames);
}

TEST(RequestReaderTest, AStreamThatIsNoFrameIsThrownAway) {
  for (const std::string junk :
       {"GET / HTTP/1.1\r\n", "VEXMSGX:2:AKNEW:MSGEND", "vexmsg:2:", "\x16\x03\x01"}) {
    RequestReader reader;
    reader.Append(junk);
    EXPECT_TRUE(Drain(reader).empty()) << junk;
    EXPECT_TRUE(reader.bad()) << junk;
    EXPECT_EQ(reader.Discard(), junk);
    reader.Append("VEXMSG:2:AKTGA:MSGEND");
    EXPECT_EQ(Drain(reader), std::vector<std::string>{"VEXMSG:2:AKTGA:MSGEND"}) << junk;
  }
  // Junk and a good request in one piece: only the junk goes.
  RequestReader reader;
  reader.Append("HALLO\r\nVEXMSG:2:AKTGA:MSGEND");
  EXPECT_TRUE(Drain(reader).empty());
  EXPECT_EQ(reader.Discard(), "HALLO\r\n");
  EXPECT_EQ(Drain(reader), std::vector<std::string>{"VEXMSG:2:AKTGA:MSGEND"});
}

TEST(RequestReaderTest, ElementsAndFieldsOfARequest) {
  struct Case {
    std::string frame;
    std::vector<std::string> elements;
  };
  const Case cases[] = {
      {"VEXMSG:2:AKNEW:a::b:MSGEND", {"VEXMSG", "2", "AKNEW", "a", "", "b", "MSGEND"}},
      {"VEXMSG:2:AKLOG:@5@ab:cd:x:MSGEND", {"VEXMSG", "2", "AKLOG", "@5@ab:cd", "x", "MSGEND"}},
      {"VEXMSG:2:AKLOG:@0@:MSGEND", {"VEXMSG", "2", "AKLOG", "@0@", "MSGEND"}},
      {"VEXMSG:2:AKLOG:@x@a:b", {"VEXMSG", "2", "AKLOG", "@x@a", "b"}},
      {"VEXMSG:2:AKLOG:@9@ab", {"VEXMSG", "2", "AKLOG", "@9@ab"}},  // clipped at the end
      {"", {""}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> got;
    for (auto e : SplitElements(c.frame)) got.emplace_back(e);
    EXPECT_EQ(got, c.elements) << c.frame;
  }
  const RequestFrame request = ParseRequest("VEXMSG:2:AKNEW:M\xFCller:\x80:17:MSGEND");
  EXPECT_EQ(request.code, "AKNEW");
  EXPECT_EQ(request.fields, (std::vector<std::string>{"Müller", "€", "17"}));
  EXPECT_EQ(request.text, "VEXMSG:2:AKNEW:Müller:€:17:MSGEND");
  EXPECT_EQ(request.wire, "VEXMSG:2:AKNEW:M\xFCller:\x80:17:MSGEND");
}

TEST(ReplyTest, ContentIsSharedAndCountedInOctets) {
  auto content = std::make_shared<const std::string>("\xE4:\x80");  // "ä:€" on the wire
  Reply reply("AIGET");
  reply.Field(int64_t{7}).Field("Grüße").LengthPrefixed(content).Field(int64_t{0}).End();
  EXPECT_EQ(reply.ToString(), "VEXMSG:2:AIGET:7:Gr\xFC\xDF\x65:@3@\xE4:\x80:0:MSGEND");
  EXPECT_EQ(reply.size(), reply.ToString().size());
  bool shared = false;
  for (const auto& piece : reply.pieces()) shared = shared || piece.owner == content;
  EXPECT_TRUE(shared) << "the content was copied";

  Reply empty("AIGET", "3");
  empty.Field("x").LengthPrefixed(std::make_shared<const std::string>()).Field("y").End();
  EXPECT_EQ(empty.ToString(), "VEXMSG:3:AIGET:x::y:MSGEND");

  // Cutting the end off reaches back across pieces.
  Reply cut("AIGET");
  cut.LengthPrefixed(std::make_shared<const std::string>("abc")).End();
  cut.DropLast(9);
  EXPECT_EQ(cut.ToString(), "VEXMSG:2:AIGET:@3@a");
  EXPECT_EQ(Reply::Raw("XMSG:2:AINEW:3:MSGEND").ToString(), "XMSG:2:AINEW:3:MSGEND");
}

TEST(ScenarioTest, MalformedScenariosNameThePlace) {
  struct Case {
    std::string json;
    std::string place;
  };
  const Case cases[] = {
      {"{", "JSON"},
      {"[]", "top level"},
      {R"({"installations": {}})", "installations"},
      {R"({"installations": [{"files": [{"name": "a"}]}]})", "installations[0].files[0]"},
      {R"({"installations": [{"files": [{"nr": 1.5}]}]})", "files[0].nr"},
      {R"({"installations": [{"files": [{"nr": 3000000000}]}]})", "files[0].nr"},
      {R"({"installations": [{"files": [{"nr": 1, "content": "a", "content_file": "b"}]}]})",
       "files[0]"},
      {R"({"installations": [{"files": [{"nr": 1, "content_file": "missing.txt"}]}]})",
       "content_file"},
      {R"({"rules": [{"close": "sometimes"}]})", "rules[0].close"},
      {R"({"rules": [{"silent": true, "raw": "x"}]})", "rules[0]"},
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

TEST(ScenarioTest, FilesAreOrderedAndTheirContentIsReadyForTheWire) {
  vexcomm::test::TestPki dir_owner;  // a fresh directory for the content file
  {
    std::ofstream out(dir_owner.dir() / "nachricht.txt", std::ios::binary);
    out << "Grüße";
  }
  const Scenario s = Scenario::Parse(R"({"version": "3", "installations": [{"blz": 1,
      "kundennr": "x", "files": [
        {"nr": 9, "content_repeat": {"text": "€a", "count": 3}},
        {"nr": 2, "content_file": "nachricht.txt", "dauer": "7", "wichtigkeit": 1},
        {"nr": 5}]}],
      "chunk_size": 4, "delay_ms": 20,
      "rules": [{"code": "AKGET", "nth": 2, "close_after_reply": "reset", "chunk_size": 1}],
      "tagesgeld": {"anbieter": []}})",
                                     dir_owner.dir());
  ASSERT_EQ(s.installations.size(), 1u);
  const auto& files = s.installations[0].files;
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(files[0].nr, 2);
  EXPECT_EQ(*files[0].content, "Gr\xFC\xDF\x65");
  EXPECT_EQ(files[0].dauer, "7");
  EXPECT_EQ(files[0].wichtigkeit, "1");
  EXPECT_EQ(files[1].nr, 5);
  EXPECT_EQ(*files[1].content, "");
  EXPECT_EQ(files[1].dauer, "0");
  EXPECT_EQ(*files[2].content,
            "\x80"
            "a\x80"
            "a\x80"
            "a");
  EXPECT_NE(s.FindInstallation("1", "x"), nullptr);
  EXPECT_EQ(s.FindInstallation("1", "X"), nullptr);
  EXPECT_EQ(s.version, "3");
  EXPECT_EQ(s.chunk_size, 4u);
  EXPECT_EQ(s.delay, 20ms);
  ASSERT_EQ(s.rules.size(), 1u);
  EXPECT_EQ(s.rules[0].action, Rule::Action::Reply);
  EXPECT_EQ(s.rules[0].close, CloseMode::Reset);
  EXPECT_EQ(s.rules[0].delay, -1ms);
  EXPECT_FALSE(s.Section("tagesgeld").is_null());
  EXPECT_TRUE(s.Section("festgeld").is_null());
}

TEST(ScenarioTest, TheSampleScenarioLoads) {
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
}

constexpr const char* kSeries = R"({"installations": [
  {"blz": "11122233", "kundennr": "4711", "files": [
    {"nr": 18, "name": "a.txt", "typ": "TXT", "von": "01.01.2026", "bis": "31.12.2026",
     "dauer": 10, "wichtigkeit": 2, "titel": "Titel", "url": "u", "content": "ab:cd"},
    {"nr": 19, "typ": "DELETE", "ref": 18},
    {"nr": 25, "name": "b.txt", "content": "x", "ref": 23}]},
  {"blz": "99988877", "kundennr": "1"}]})";

TEST(RequestHandlersTest, RepliesFollowTheInstallationsSeries) {
  const Scenario s = Scenario::Parse(kSeries);
  const std::pair<std::string, std::string> cases[] = {
      {"VEXMSG:2:AKNEW:11122233:4711:0:5:MSGEND", "VEXMSG:2:AINEW:3:MSGEND"},
      {"VEXMSG:2:AKNEW:11122233:4711:17:5:MSGEND", "VEXMSG:2:AINEW:3:MSGEND"},
      {"VEXMSG:2:AKNEW:11122233:4711:18:5:MSGEND", "VEXMSG:2:AINEW:2:MSGEND"},
      {"VEXMSG:2:AKNEW:11122233:4711:24:5:MSGEND", "VEXMSG:2:AINEW:1:MSGEND"},
      {"VEXMSG:2:AKNEW:11122233:4711:25:5:MSGEND", "VEXMSG:2:AINEW:0:MSGEND"},
      {"VEXMSG:2:AKNEW:11122233:4711:abc:5:MSGEND", "VEXMSG:2:AINEW:3:MSGEND"},
      {"VEXMSG:2:AKNEW:99988877:1:0:5:MSGEND", "VEXMSG:2:AINEW:0:MSGEND"},
      {"VEXMSG:2:AKNEW:11122233:4712:0:5:MSGEND",
       "VEXMSG:2:AIERR:9056:Kunde nicht gefunden:MSGEND"},
      {"VEXMSG:2:AKGET:11122233:4711:17:5:MSGEND",
       "VEXMSG:2:AIGET:18:a.txt:TXT:01.01.2026:31.12.2026:10:2:Titel:u:@5@ab:cd:0:MSGEND"},
      {"VEXMSG:2:AKGET:11122233:4711:18:5:MSGEND", "VEXMSG:2:AIGET:19::DELETE:::0:0::::18:MSGEND"},
      {"VEXMSG:2:AKGET:11122233:4711:20:5:MSGEND",
       "VEXMSG:2:AIGET:25:b.txt::::0:0:::@1@x:23:MSGEND"},
      {"VEXMSG:2:AKGET:11122233:4711:25:5:MSGEND",
       "VEXMSG:2:AIERR:9057:Keine weitere Nachricht vorhanden:MSGEND"},
      {"VEXMSG:2:AKGET:1:2:0:5:MSGEND", "VEXMSG:2:AIERR:9056:Kunde nicht gefunden:MSGEND"},
      {"VEXMSG:2:AKXYZ:MSGEND", "VEXMSG:2:AIERR:9002:Unbekannte Anfrage AKXYZ:MSGEND"},
  };
  for (const auto& [request, reply] : cases) {
    EXPECT_EQ(Answer(s, ParseRequest(request)).ToString(), reply) << request;
  }
}

// A client on the component's own socket, recording what it receives.
struct Client : vexcomm::SocketEvents {
  std::shared_ptr<vexcomm::ProxySocket> socket;
  std::string received;
  bool ready = false;
  bool ended = false;
  std::string end;

  void OnConnect() override {}
  void OnSSLReady() override { ready = true; }
  void OnValidateCertificate(const std::shared_ptr<vexcomm::Certificate>& cert,
                             bool& accept) override {
    accept = cert->verified;
  }
  void OnReceive(const std::string& text) override { received += text; }
  void OnDisconnect() override {
    ended = true;
    end = "disconnect";
  }
  void OnError(const std::string&, const std::string& code) override {
    ended = true;
    end = code;
  }
  void OnProxyError(const std::string&, const std::string&) override {}
};

class ServerTest : public ::testing::Test {
 protected:
  static constexpr const char* kHost = "vexmsg.invalid";
  vexcomm::test::TestPki pki{{kHost}};
  vexcomm::platform::MessageLoop loop;
  std::unique_ptr<Server> server;

  void Start(const std::string& scenario) {
    ServerOptions options;
    options.cert_file = pki.cert_file();
    options.key_file = pki.key_file();
    options.threads = 3;
    server = std::make_unique<Server>(options, Scenario::Parse(scenario));
  }

  std::shared_ptr<Client> Connect() {
    vexcomm::SocketOptions options;
    options.ca_file = pki.ca_file();
    options.connect_to_host = kHost;
    options.connect_to_address = "127.0.0.1";
    options.connect_to_address_port = server->port();
    auto client = std::make_shared<Client>();
    client->socket = vexcomm::platform::CreateTlsSocket(loop, options);
    client->socket->SetEvents(client);
    client->socket->SetSecure(true);
    int32_t port = 443;
    client->socket->Connect(kHost, port);
    return client;
  }

  bool RunUntil(const std::function<bool()>& done) {
    return vexcomm::test::RunLoopUntil(loop, done);
  }
};

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
    std::string end;  // empty: the connection stays open
  };
  const Case cases[] = {
      {"the second AKNEW is refused",
       R"([{"code": "AKNEW", "nth": 2, "error": {"number": "9999", "text": "Wartung"}}])",
       {aknew, aknew, aknew},
       ainew + "VEXMSG:2:AIERR:9999:Wartung:MSGEND" + ainew,
       ""},
      {"the second request of any code gets a notice",
       R"([{"code": "*", "nth": 2, "notice": {"number": "10", "text": "Danke"}}])",
       {aknew, akget, akget},
       ainew + "VEXMSG:2:AIRMG:10:Danke:MSGEND" + aiget,
       ""},
      {"an invalid frame",
       R"([{"code": "AKNEW", "raw": "XMSG:2:AINEW:3:MSGEND"}])",
       {aknew, akget},
       "XMSG:2:AINEW:3:MSGEND" + aiget,
       ""},
      {"a frame that never ends",
       R"([{"code": "AKNEW", "nth": 1, "unterminated": true}])",
       {aknew, aknew},
       "VEXMSG:2:AINEW:3:" + ainew,
       ""},
      {"no answer to the first request",
       R"([{"code": "AKNEW", "nth": 1, "silent": true}])",
       {aknew, akget},
       aiget,
       ""},
      {"pieces of three octets, then the end",
       R"([{"code": "AKGET", "chunk_size": 3,
         "close_after_reply": "clean"}])",
       {akget},
       aiget,
       "disconnect"},
      {"closed after the second request",
       R"([{"code": "*", "nth": 2, "close": "abort"}])",
       {aknew, akget},
       ainew,
       "disconnect"},
      {"a request that is no frame, then a good one",
       "[]",
       {"HALLO", aknew},
       "VEXMSG:2:AIERR:9001:Ungültige Nachricht:MSGEND" + ainew,
       ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Start(R"({"installations": [{"blz": "11122233", "kundennr": "4711", "files": [
        {"nr": 18, "name": "a.txt", "typ": "TXT", "von": "01.01.2026", "bis": "31.12.2026",
         "dauer": 10, "wichtigkeit": 2, "titel": "Titel", "url": "u", "content": "ab:cd"},
        {"nr": 19}, {"nr": 20}]}], "rules": )" +
          c.rules + "}");
    auto client = Connect();
    ASSERT_TRUE(RunUntil([&] { return client->ready || client->ended; })) << client->end;
    for (const auto& r : c.requests) client->socket->Send(r);
    ASSERT_TRUE(RunUntil([&] {
      return client->received.size() >= c.received.size() || client->ended;
    })) << client->received;
    if (!c.end.empty()) {
      ASSERT_TRUE(RunUntil([&] { return client->ended; }));
    }
    EXPECT_EQ(client->received, c.received);
    EXPECT_EQ(client->end, c.end);
    EXPECT_EQ(server->Requests(), c.requests);
    client->socket->Close();
  }
}

TEST_F(ServerTest, ManyClientsAtOnceAreToldApart) {
  Start(kSeries);
  std::vector<std::shared_ptr<Client>> clients;
  for (int i = 0; i < 8; ++i) clients.push_back(Connect());
  ASSERT_TRUE(RunUntil([&] {
    for (const auto& c : clients) {
      if (!c->ready && !c->ended) return false;
    }
    return true;
  }));
  // Each asks with its own DateiNr and must get its own answer.
  for (std::size_t i = 0; i < clients.size(); ++i) {
    clients[i]->socket->Send("VEXMSG:2:AKNEW:11122233:4711:" + std::to_string(17 + i) +
                             ":5:MSGEND");
  }
  ASSERT_TRUE(RunUntil([&] {
    for (const auto& c : clients) {
      if (!c->received.ends_with(":MSGEND") && !c->ended) return false;
    }
    return true;
  }));
  const char* counts[] = {"3", "2", "1", "1", "1", "1", "1", "1"};
  for (std::size_t i = 0; i < clients.size(); ++i) {
    EXPECT_EQ(clients[i]->received, std::string("VEXMSG:2:AINEW:") + counts[i] + ":MSGEND") << i;
  }
  EXPECT_EQ(server->ConnectionCount(), 8u);
  const auto log = server->RequestLog();
  ASSERT_EQ(log.size(), 8u);
  std::set<std::uint64_t> connections;
  for (const auto& r : log) connections.insert(r.connection);
  EXPECT_EQ(connections.size(), 8u);

  // A new scenario holds for the next request, on an open connection too.
  server->SetScenario(Scenario::Parse(R"({"version": "3"})"));
  clients[0]->received.clear();
  clients[0]->socket->Send("VEXMSG:2:AKNEW:11122233:4711:0:5:MSGEND");
  ASSERT_TRUE(RunUntil([&] { return clients[0]->received.ends_with(":MSGEND"); }));
  EXPECT_EQ(clients[0]->received, "VEXMSG:3:AIERR:9056:Kunde nicht gefunden:MSGEND");
  for (auto& c : clients) c->socket->Close();
}

}  // namespace
}  // namespace vexmsg
