#include "component/component_fixture.h"

namespace vexcomm::testing {
namespace {

// A host with an event loop of its own: its processing runs inside Send.
class HostEventsTest : public ComponentTest {
 protected:
  void SetUp() override {
    ComponentTest::SetUp();
    run().host.process_host_events = [this] {
      ++calls;
      seen.push_back({sock->sent.size(), run().cursor.remaining_files()});
      if (on_call) on_call(calls);
    };
    vc->OnNochAufServer([this](int32_t n) { noch.push_back(n); });
  }

  struct Seen {
    std::size_t requests_sent;
    int32_t remaining_files;
  };
  int calls = 0;
  std::vector<Seen> seen;
  std::vector<int32_t> noch;
  std::function<void(int)> on_call;
};

TEST_F(HostEventsTest, RunThroughoutTheWaitAndOnceBetweenAReplyAndTheNextRequest) {
  // The server answers only after the host's loop has run three times while the run waited.
  on_call = [this](int n) {
    if (n == 3) sock->RaiseReceive("VEXMSG:2:AINEW:1:MSGEND");
  };
  sock->on_send = [](ScriptedSocket& s, const std::string& request) {
    if (request.find(":AKGET:") != std::string::npos) s.RaiseReceive(FileFrame(18, "a.txt", "x"));
  };
  vc->SetModus(VexCommGetNew);
  vc->Send();

  EXPECT_EQ(vc->Fehler()->Code, vcerrNoError);
  ASSERT_EQ(sock->sent.size(), 2u);
  ASSERT_GE(seen.size(), 3u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(seen[i].requests_sent, 1u) << i;
  // After the count of new files was handled and before the file was asked for.
  bool between = false;
  for (const auto& s : seen) between |= s.requests_sent == 1 && s.remaining_files == 1;
  EXPECT_TRUE(between);
}

TEST_F(HostEventsTest, HostCodeCallsIntoTheComponent) {
  struct Case {
    const char* name;
    std::function<void()> act;  // on the host's second call, while a reply waits
    int32_t fehler;
    std::size_t requests;
  } const cases[] = {
      {"cancel", [this] { vc->CancelSend(); }, vcerrOther, 1},
      // The rule of Modus 2 applies at the next reply: the file still waiting is fetched.
      {"modus", [this] { vc->SetModus(VexCommGetNew); }, vcerrNoError, 2},
      {"nested send refused", [this] { EXPECT_FALSE(vc->Send()); }, vcerrNoError, 1},
      {"host code fails", [] { throw std::runtime_error("host"); }, vcerrNoError, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sock->sent.clear();
    calls = 0;
    run().cursor.SetRemainingFiles(1);  // left over from an earlier fetch
    bool answered = false;
    on_call = [&](int n) {
      if (n != 2) return;
      if (!answered) sock->RaiseReceive("VEXMSG:2:AIWDT:05.12.2026:MSGEND");
      answered = true;
      c.act();
    };
    sock->on_send = [](ScriptedSocket& s, const std::string& request) {
      if (request.find(":AKGET:") != std::string::npos) s.RaiseReceive(FileFrame(18, "a", "x"));
    };
    vc->SetModus(vexCommWDT);
    vc->Send();
    EXPECT_EQ(vc->Fehler()->Code, c.fehler);
    EXPECT_EQ(sock->sent.size(), c.requests);
  }
  EXPECT_EQ(vc->Fehler()->Code, vcerrNoError);
}

}  // namespace
}  // namespace vexcomm::testing
