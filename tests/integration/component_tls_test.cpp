// The component as a host drives it, over real TLS to the reference server on loopback.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "integration/tls_fixture.h"
#include "support/loop_helpers.h"
#include "support/tinyproxy.h"

namespace vexcomm::test {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr const char* kBlz = "11122233";
constexpr const char* kKundenNr = "4711";

std::string AkNew(int datei_nr) {
  return "VEXMSG:2:AKNEW:11122233:4711:" + std::to_string(datei_nr) + ":5:MSGEND";
}
std::string AkGet(int datei_nr) {
  return "VEXMSG:2:AKGET:11122233:4711:" + std::to_string(datei_nr) + ":5:MSGEND";
}

// Everything of a NeueDatei event but its content.
auto Header(const NeueDateiEvent& e) {
  return std::make_tuple(e.DateiNummer, e.DateiName, e.Typ, e.VonDatum, e.BisDatum, e.AnzeigeDauer,
                         e.Wichtigkeit, e.Titel, e.URL);
}

std::string Installation(const std::string& files, const std::string& rest = "") {
  return std::string(R"({"installations": [{"blz": ")") + kBlz + R"(", "kundennr": ")" + kKundenNr +
         R"(", "files": [)" + files + "]}]" + rest + "}";
}

// Text of a content line and the same text as the host receives it.
constexpr const char* kLetter = "Grüße aus Köln: 5 € für Müller@Bank\r\nZweite Zeile: @3@abc:\r\n";
constexpr const char* kLetterJson =
    R"(Grüße aus Köln: 5 € für Müller@Bank\r\nZweite Zeile: @3@abc:\r\n)";
constexpr const char* kBigLine = "Zeile äöü €\r\n";  // 13 octets on the wire
constexpr std::size_t kBigLines = 250000;

std::string FiveEntries() {
  return std::string(R"(
    {"nr": 18, "name": "Grüße.txt", "typ": "txt", "von": "01.03.2026", "bis": "31.03.2026",
     "dauer": 10, "wichtigkeit": 2, "titel": "Gebühren ändern sich", "url": "www.vexmsg.invalid/info",
     "content": ")") +
         kLetterJson + R"("},
    {"nr": 20, "name": "gross.txt", "typ": "TXT",
     "content_repeat": {"text": "Zeile äöü €\r\n", "count": )" +
         std::to_string(kBigLines) + R"(}},
    {"nr": 21, "name": "leer.txt", "typ": "TXT"},
    {"nr": 22, "typ": "DELETE", "ref": 18},
    {"nr": 23, "name": "verweis.txt", "typ": "TXT", "content": "x", "ref": 30})";
}

class ComponentTlsTest : public TlsComponentTest {
 protected:
  // A host started afresh with this identity and attempt counter in its registry.
  void StartHost(const SocketOptions& options, int32_t datei_nr, int32_t attempts = 0) {
    vc.reset();
    module.reset();
    SetIdentity({kBlz, kKundenNr, datei_nr, "", "", ""}, attempts);
    ClearRecords();
    MakeComponent(options);
  }
};

TEST_F(ComponentTlsTest, FetchDeliversEveryFileAndDateiNrSurvivesARestart) {
  // Replies in small pieces: frames must be put together across reads.
  Start(Installation(FiveEntries(), R"(, "rules": [
      {"code": "AKNEW", "chunk_size": 3}, {"code": "AKGET", "nth": 1, "chunk_size": 7}])"));
  StartHost(DefaultSocketOptions(), 17, /*attempts=*/4);
  std::vector<std::pair<int32_t, std::string>> skipped;
  vc->OnSkippedFile(
      [&](int32_t nummer, const std::string& name) { skipped.emplace_back(nummer, name); });

  EXPECT_EQ(Run(VexCommGetNew), vcerrNoError);
  EXPECT_EQ(vc->Fehler()->Text, "");
  EXPECT_EQ(vc->Modus(), VexCommGetNew);

  // Every request carries the number of the entry before it, gaps included.
  const std::vector<std::string> expected = {AkNew(17), AkGet(17), AkGet(18),
                                             AkGet(20), AkGet(21), AkGet(22)};
  EXPECT_EQ(WireRequests(), expected);
  EXPECT_EQ(server->RequestLog().back().connection, 1u);  // all over the first connection

  ASSERT_EQ(files.size(), 3u);  // the empty entry and the deletion raise no NeueDatei
  EXPECT_EQ(Header(files[0]), std::make_tuple(18, std::string("Grüße.txt"), std::string("TXT"),
                                              std::string("01.03.2026"), std::string("31.03.2026"),
                                              10, 2, std::string("Gebühren ändern sich"),
                                              std::string("www.vexmsg.invalid/info")));
  EXPECT_EQ(files[0].Datei, kLetter);
  EXPECT_EQ(std::tie(files[1].DateiNummer, files[1].DateiName), std::make_tuple(20, "gross.txt"));
  std::string big;
  for (std::size_t i = 0; i < kBigLines; ++i) big += kBigLine;
  EXPECT_TRUE(files[1].Datei == big);
  // The reference replaces the entry's number.
  EXPECT_EQ(std::tie(files[2].DateiNummer, files[2].Datei), std::make_tuple(30, "x"));
  ASSERT_EQ(deletes.size(), 1u);
  ASSERT_EQ(deletes[0].size(), 2u);
  EXPECT_TRUE(deletes[0][0].is_empty() && deletes[0][1].ToString() == "18");
  EXPECT_THAT(noch_auf_server, ElementsAre(0));

  EXPECT_THAT(LogLines(),
              ElementsAre("SSL-Connect : vexmsg.invalid ", "5 neue Nachrichten ",
                          "Hole Nachricht 1 von 5 ", "Datei:  Grüße.txt", "Hole Nachricht 2 von 5 ",
                          "Datei:  gross.txt", "Hole Nachricht 3 von 5 ", "Datei:  leer.txt",
                          "Datei ohne Inhalt übersprungen: 21 leer.txt ", "Hole Nachricht 4 von 5 ",
                          "Datei:  ", "Hole Nachricht 5 von 5 ", "Datei:  verweis.txt"));
  EXPECT_THAT(skipped, ElementsAre(std::make_pair(21, std::string("leer.txt"))));
  EXPECT_TRUE(boxes.empty());
  // The cursor is the last entry's own number; a valid reply reset the attempt counter.
  EXPECT_EQ(StoredValues().user.DateiNr, 23);
  EXPECT_EQ(StoredValues().attempts, 0);

  // A restarted host asks from where the last one stopped and gets only the new entry.
  server->SetScenario(vexmsg::Scenario::Parse(
      Installation(FiveEntries() + R"(, {"nr": 24, "name": "neu.txt", "content": "neu"})")));
  ClearRecords();
  MakeComponent();
  EXPECT_EQ(Run(VexCommGetNew), vcerrNoError);
  const auto wire = WireRequests();
  EXPECT_EQ(std::vector<std::string>(wire.begin() + 6, wire.end()),
            (std::vector{AkNew(23), AkGet(23)}));
  EXPECT_EQ(server->RequestLog().back().connection, 2u);
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(std::tie(files[0].DateiNummer, files[0].Datei), std::make_tuple(24, "neu"));
  EXPECT_THAT(noch_auf_server, ElementsAre(0));
  EXPECT_EQ(StoredValues().user.DateiNr, 24);
}

// Which attempts stay quiet is the run's logic (RunTest); here the third one logs the real cause.
TEST_F(ComponentTlsTest, NetworkFailuresEndTheRunAndTheThirdAttemptLogsTheCause) {
  test::TestPki stranger{{kHost}};
  struct Case {
    const char* name;
    std::string scenario_rules;
    std::function<void(SocketOptions&)> setup;
    std::string ini_host;
    std::string code;
    std::size_t requests;  // what reached the server
    const char* cause = "";
  };
  const Case cases[] = {
      {"connection refused", "",
       [](SocketOptions& o) { o.connect_to_address_port = ClosedLoopbackPort(); }, kHost, "10061",
       0},
      {"unknown host", "", [](SocketOptions&) {}, "nohost.invalid", "11001", 0},
      {"silent server", R"(, "rules": [{"code": "AKNEW", "silent": true}])",
       // The socket's own idle time-out ends the wait.
       [](SocketOptions& o) { o.idle_timeout = 1000ms; }, kHost, "10060", 1,
       "seit 1 s keine Daten"},
      {"certificate of an unknown CA", "",
       [&](SocketOptions& o) { o.ca_file = stranger.ca_file().string(); }, kHost, "10053", 0,
       "Zertifikat"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Start(Installation(R"({"nr": 18, "name": "a.txt", "content": "a"})", c.scenario_rules));
    WriteIni(c.ini_host);
    SocketOptions options = DefaultSocketOptions();
    c.setup(options);
    StartHost(options, 17, /*attempts=*/2);
    EXPECT_EQ(Run(VexCommGetNew), vcerrNoConnection);
    const std::string text = vc->Fehler()->Text;
    EXPECT_THAT(text, ::testing::AllOf(HasSubstr(c.cause), ::testing::Not(::testing::IsEmpty())));
    EXPECT_EQ(vc->Outcome()->kind == OutcomeKind::kCertificateRefused, c.code == "10053");
    EXPECT_EQ(LogLines(),
              (std::vector<std::string>{
                  "SSL-Connect : " + c.ini_host + " ",
                  c.code == "10060" ? "Timeout " : "Socket Fehler: " + c.code + " " + text + " "}));
    EXPECT_TRUE(noch_auf_server.empty());
    EXPECT_EQ(server->Requests().size(), c.requests);
    EXPECT_EQ(StoredValues().attempts, 3);
    EXPECT_EQ(StoredValues().user.DateiNr, 17);
  }
}

TEST_F(ComponentTlsTest, ServerEndingTheConnectionMidFetchKeepsWhatArrived) {
  // However the server ends the session (close_notify, a bare TCP close, a reset), the socket
  // reports the server's close: the host never sees a cut fetch as a success.
  for (const char* close : {"clean", "abort", "reset"}) {
    SCOPED_TRACE(close);
    Start(Installation(
        R"({"nr": 18, "name": "a.txt", "content": "a"},
                                {"nr": 19, "name": "b.txt", "content": "b"},
                                {"nr": 20, "name": "c.txt", "content": "c"})",
        std::string(R"(, "rules": [{"code": "AKGET", "nth": 2, "close": ")") + close + R"("}])"));
    StartHost(DefaultSocketOptions(), 17);
    EXPECT_EQ(Run(VexCommGetNew), vcerrDisconnect);
    EXPECT_EQ(vc->Fehler()->Text, "Der Server hat die Verbindung geschlossen!");
    EXPECT_EQ(vc->Outcome()->kind, OutcomeKind::kNetworkClosed);
    EXPECT_THAT(LogLines(),
                ElementsAre("SSL-Connect : vexmsg.invalid ", "3 neue Nachrichten ",
                            "Hole Nachricht 1 von 3 ", "Datei:  a.txt", "Hole Nachricht 2 von 3 ",
                            "Verbindung wurde geschlossen "));
    EXPECT_TRUE(noch_auf_server.empty());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].DateiName, "a.txt");
    EXPECT_EQ(server->Requests(), (std::vector<std::string>{AkNew(17), AkGet(17), AkGet(18)}));
    EXPECT_EQ(StoredValues().user.DateiNr, 18);
    EXPECT_EQ(StoredValues().attempts, 0);
  }
}

TEST_F(ComponentTlsTest, FetchThroughTinyproxy) {
  Start(Installation(R"({"nr": 18, "name": "a.txt", "content": "über: a@b\r\n"})"));
  test::TinyProxy open_proxy;
  test::TinyProxy proxy(test::TinyProxy::Credentials{"vex", "geheim"});
  struct Case {
    const char* name;
    const test::TinyProxy* proxy;
    std::string user;
    std::string password;
    uint16_t target_port;    // 0: the server
    std::string proxy_line;  // empty: the fetch succeeds
  };
  const Case cases[] = {
      {"open proxy", &open_proxy, "", "", 0, ""},
      {"no credentials", &proxy, "", "", 0, "Proxy Server benötigt Authentifizierung "},
      {"wrong credentials", &proxy, "vex", "falsch", 0, "Proxy Authentifizierung fehlgeschlagen "},
      {"target unreachable", &proxy, "vex", "geheim", ClosedLoopbackPort(), "Socket Fehler: 500 "},
      {"right credentials", &proxy, "vex", "geheim", 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SocketOptions options = DefaultSocketOptions();
    options.proxy_host = "127.0.0.1";
    options.proxy_port = c.proxy->port();
    options.proxy_user = c.user;
    options.proxy_password = c.password;
    if (c.target_port != 0) options.connect_to_address_port = c.target_port;
    StartHost(options, 17);
    const int32_t fehler = Run(VexCommGetNew);
    const auto lines = LogLines();
    ASSERT_FALSE(lines.empty()) << c.proxy->Output();
    EXPECT_EQ(lines[0], "SSL-Connect : vexmsg.invalid ");
    if (c.proxy_line.empty()) {
      EXPECT_EQ(fehler, vcerrNoError) << vc->Fehler()->Text << c.proxy->Output();
      ASSERT_EQ(files.size(), 1u);
      EXPECT_EQ(files[0].Datei, "über: a@b\r\n");
      EXPECT_THAT(noch_auf_server, ElementsAre(0));
    } else {
      // The proxy's refusal is logged; the error that follows ends the run.
      ASSERT_EQ(lines.size(), 2u) << c.proxy->Output();
      EXPECT_THAT(lines[1], ::testing::StartsWith(c.proxy_line));
      EXPECT_EQ(fehler, vcerrNoConnection);
      EXPECT_FALSE(vc->Fehler()->Text.empty());
      EXPECT_TRUE(files.empty());
      EXPECT_TRUE(noch_auf_server.empty());
    }
  }
  // Only the runs that got through reached the server.
  EXPECT_EQ(server->Requests(),
            (std::vector<std::string>{AkNew(17), AkGet(17), AkNew(17), AkGet(17)}));
}

TEST_F(ComponentTlsTest, CancelFromAnotherThreadEndsARunWaitingOnASilentServer) {
  Start(Installation(R"({"nr": 18, "name": "a.txt", "content": "a"},
                              {"nr": 19, "name": "b.txt", "content": "b"},
                              {"nr": 20, "name": "c.txt", "content": "c"})",
                     R"(, "rules": [{"code": "AKGET", "nth": 2, "silent": true}])"));
  StartHost(DefaultSocketOptions(), 17);  // idle time-out far beyond the run: only the cancel
  bool server_saw_request = false;
  std::thread host_ui([&] {
    // The second AKGET has reached the server, which will never answer it.
    server_saw_request = WaitForServerRequests(3);
    vc->PostCancelSend();
  });
  EXPECT_EQ(Run(VexCommGetNew), vcerrOther);
  host_ui.join();
  EXPECT_TRUE(server_saw_request);
  EXPECT_EQ(vc->Fehler()->Text, "Benutzer-Abbruch");
  EXPECT_THAT(noch_auf_server, ElementsAre(2));
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(StoredValues().user.DateiNr, 18);
  EXPECT_THAT(LogLines(), ::testing::Not(::testing::Contains("Timeout ")));
}

}  // namespace
}  // namespace vexcomm::test
