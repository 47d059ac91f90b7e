// Support log and password request end to end: what the server receives, byte for byte, and
// what its answer leaves in Fehler.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "integration/tls_fixture.h"

namespace vexcomm::test {
namespace {

class SupportLogTlsTest : public TlsComponentTest {
 protected:
  SupportLogTlsTest() {
    SetIdentity({"11122233", "4711", 0, "Jürgen", "Müller-Lüdenscheidt", "jm@example.test"});
    // The server's form, to show that the request carries the converter's text.
    host.date_to_text = [](std::chrono::sys_days day) {
      const std::chrono::year_month_day d(day);
      char text[16];
      std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(d.year()),
                    static_cast<unsigned>(d.month()), static_cast<unsigned>(d.day()));
      return std::string(text);
    };
  }

  static constexpr const char* kPerson = "11122233:4711:Jürgen:Müller-Lüdenscheidt:jm@example.test";
};

TEST_F(SupportLogTlsTest, TextsTravelInTheirFieldsAndStayForTheNextRun) {
  Start("{}");
  // 55 characters; "ü" and "€" are one octet each on the wire.
  vc->SetLogSupport("Fehler: Verbindung getrennt\r\nZeile 2: ü € @5@ :MSGEND\r\n");
  vc->SetLogDatum("05.12.2026");
  vc->SetLogText("Absturz beim Abruf");

  EXPECT_EQ(Run(vexCommSendLog), vcerrSuccess);
  EXPECT_EQ(vc->Fehler()->Text, "10");
  // Nothing is cleared by sending: the same request again, then the password request from a
  // second instance of the same component.
  EXPECT_EQ(Run(vexCommSendLog), vcerrSuccess);
  auto second = VexComm::Create(*module);
  second->SetModus(vexCommSendPWD);
  EXPECT_FALSE(second->Send());
  EXPECT_EQ(second->Fehler()->Code, vcerrSuccess);
  // An empty support log is an empty last field.
  vc->SetLogSupport("");
  EXPECT_EQ(Run(vexCommSendLog), vcerrSuccess);

  const std::string log =
      std::string("VEXMSG:2:AKLOG:") + kPerson +
      ":05.12.2026:Absturz beim Abruf:@55@Fehler: Verbindung getrennt\r\nZeile 2: ü € @5@ "
      ":MSGEND\r\n:MSGEND";
  const std::vector<std::string> expected = {
      Wire(log),
      Wire(log),
      Wire(std::string("VEXMSG:2:AKPWD:") + kPerson +
           ":2026-12-06:Absturz beim Abruf:05.12.2026:MSGEND"),
      Wire(std::string("VEXMSG:2:AKLOG:") + kPerson + ":05.12.2026:Absturz beim Abruf::MSGEND"),
  };
  EXPECT_EQ(WireRequests(), expected);
  EXPECT_EQ(vc->LogSupport(), "");
  // Neither request has an operation name or a log line of its own; only the notice is logged.
  EXPECT_TRUE(Reports(4).empty());
  EXPECT_EQ(LogLines().back(), "Meldung:  Erhalten (10)");
}

TEST_F(SupportLogTlsTest, TheServersAnswerDecidesTheOutcome) {
  struct Case {
    const char* name;
    const char* rules;
    int32_t modus;
    const char* log_datum;
    int32_t code;
    std::string text;
  };
  const Case cases[] = {
      {"refused password request",
       R"([{"code": "AKPWD", "error": {"number": "9070", "text": "Passwort-Anfrage abgelehnt"}}])",
       vexCommSendPWD, "05.12.2026", 9070, "Passwort-Anfrage abgelehnt"},
      {"a notice other than 10 is no success",
       R"([{"code": "AKLOG", "notice": {"number": "11", "text": "Später"}}])", vexCommSendLog,
       "05.12.2026", vcerrNoError, "11"},
      // A colon in the log date shifts the fields after it; the server refuses the request.
      {"colon in the log date", "[]", vexCommSendLog, "05.12.2026 14:30", 9005,
       "Anfrage fehlerhaft"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    server.reset();
    vc.reset();
    Start(std::string(R"({"rules": )") + c.rules + "}");
    vc->SetLogSupport("log");
    vc->SetLogDatum(c.log_datum);
    vc->SetLogText("text");
    EXPECT_EQ(Run(c.modus), c.code);
    EXPECT_EQ(vc->Fehler()->Text, c.text);
    EXPECT_EQ(server->Requests().size(), 1u);
  }
}

}  // namespace
}  // namespace vexcomm::test
