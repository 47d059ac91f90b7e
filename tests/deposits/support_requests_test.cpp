#include "services/support_requests.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "services/run_state_fixture.h"

namespace vexcomm::services {
namespace {

using namespace std::chrono;
using testing::RecordingRunState;

struct Texts {
  std::string support;
  std::string datum;
  std::string text;
};

struct Case {
  const char* name;
  void (*builder)(RunState&);
  Texts texts;
  std::string frame;
};

const std::string kIdentity = "11122233:4711:Max:Mustermann:max@example.de";

void Prepare(RecordingRunState& run, const Texts& texts) {
  run.state.user.BLZ = "11122233";
  run.state.user.KundenNr = "4711";
  run.state.user.DateiNr = 17;  // not part of either request
  run.state.user.Vorname = "Max";
  run.state.user.Nachname = "Mustermann";
  run.state.user.EMail = "max@example.de";
  run.state.log_support = texts.support;
  run.state.log_datum = texts.datum;
  run.state.log_text = texts.text;
  run.state.host.today = [] { return sys_days{2026y / December / 6}; };
  // Writes the date it is given, so a request carrying another day shows.
  run.state.host.date_to_text = [](sys_days day) {
    year_month_day ymd{day};
    return std::to_string(static_cast<unsigned>(ymd.day())) + "." +
           std::to_string(static_cast<unsigned>(ymd.month())) + "." +
           std::to_string(static_cast<int>(ymd.year()));
  };
}

TEST(SupportRequests, FramesAreExact) {
  const Case cases[] = {
      {"log", SendeAKLOG, {"a:b", "D", "T"}, "VEXMSG:2:AKLOG:" + kIdentity + ":D:T:@3@a:b:MSGEND"},
      {"log without support text",
       SendeAKLOG,
       {"", "D", "T"},
       "VEXMSG:2:AKLOG:" + kIdentity + ":D:T::MSGEND"},
      {"all texts empty", SendeAKLOG, {"", "", ""}, "VEXMSG:2:AKLOG:" + kIdentity + "::::MSGEND"},
      {"password",
       SendeAKPWD,
       {"ignored", "D", "T"},
       "VEXMSG:2:AKPWD:" + kIdentity + ":6.12.2026:T:D:MSGEND"},
      {"password text unwrapped",
       SendeAKPWD,
       {"", "D", "Zeile 1\nBitte: neu"},
       "VEXMSG:2:AKPWD:" + kIdentity + ":6.12.2026:Zeile 1\nBitte: neu:D:MSGEND"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingRunState run;
    Prepare(run, c.texts);
    c.builder(run.state);
    EXPECT_EQ(run.sent, std::vector<std::string>{c.frame});
    EXPECT_TRUE(run.Lines().empty()) << "these requests write no log line";
    EXPECT_EQ(run.events, std::vector<std::string>{"send"});
  }
}

}  // namespace
}  // namespace vexcomm::services
