#include <vexcomm/quotes.h>

#include "component/component_fixture.h"
#include "transport/frame.h"

namespace vexcomm::testing {
namespace {

// Fails the n-th socket operation of a run: connect, handshake, a send or a received chunk.
struct FaultPlan {
  int fail_at = 0;
  int ops = 0;
  std::string failed;  // which operation failed; empty when the run went through

  bool Fails(const char* what) {
    if (++ops != fail_at) return false;
    failed = what;
    return true;
  }
};

class FaultTest : public ComponentTest {
 protected:
  // A socket that serves `reply` for each request, each reply in two chunks, and fails where
  // the plan says. After a failure the test checks the run ended instead of waiting.
  void Script(FaultPlan& plan, std::function<std::string(const std::string&)> reply) {
    sock->on_connect = [this, &plan](ScriptedSocket& s) {
      if (plan.Fails("connect")) return FailNow(s, "Verbindung abgelehnt", "10061");
      if (plan.Fails("handshake")) return FailNow(s, "Handshake abgebrochen", "10053");
      s.RaiseConnectSequence();
    };
    sock->on_send = [this, &plan, reply](ScriptedSocket& s, const std::string& request) {
      if (plan.Fails("send")) return FailNow(s, "Senden abgebrochen", "10053");
      std::string frame = reply(request);
      std::size_t half = frame.size() / 2;
      for (std::string chunk : {frame.substr(0, half), frame.substr(half)}) {
        if (plan.Fails("receive")) {
          if (plan.ops % 2 == 0) {
            s.RaiseDisconnect();
            return Watch();
          }
          return FailNow(s, "Verbindung zurückgesetzt", "10053");
        }
        s.RaiseReceive(chunk);
      }
    };
  }

  void FailNow(ScriptedSocket& s, std::string text, std::string code) {
    s.RaiseError(std::move(text), std::move(code));
    Watch();
  }

  // Runs after the failure's event: a run still waiting then would wait forever.
  void Watch() {
    module->Post([this] {
      if (run().session_done) return;
      hung = true;
      vc->CancelSend();
    });
  }

  bool hung = false;
};

std::string FileReply(const std::string& request) {
  transport::clsElement e;
  transport::SplitElements(request, e, true);
  int after = std::stoi(e.Item(6));
  if (e.Item(3) == "AKNEW")
    return "VEXMSG:2:AINEW:" + std::to_string(std::max(0, 3 - after)) + ":MSGEND";
  return FileFrame(after + 1, "f" + std::to_string(after + 1),
                   "Inhalt:MSGEND@" + std::to_string(after));
}

TEST_F(FaultTest, AFetchEndsCleanlyWhereverTheSocketFails) {
  int32_t last_datei_nr = 0;
  for (int n = 1;; ++n) {
    Restart();
    run().attempts = 0;
    SaveRecord();
    hung = false;
    FaultPlan plan;
    plan.fail_at = n;
    Script(plan, FileReply);
    int files = 0;
    vc->OnNeueDatei([&](const NeueDateiEvent&) { ++files; });
    vc->SetModus(VexCommGetNew);
    vc->Send();
    std::string label = "failure at operation " + std::to_string(n) + " (" + plan.failed + ")";
    EXPECT_FALSE(hung) << label;
    EXPECT_TRUE(boxes.empty()) << label;
    EXPECT_GE(run().user.DateiNr, last_datei_nr) << label;
    last_datei_nr = run().user.DateiNr;
    Restart();
    EXPECT_EQ(run().user.DateiNr, last_datei_nr) << label << ": the cursor was not stored";
    if (plan.failed.empty()) {
      EXPECT_EQ(last_datei_nr, 3);
      break;
    }
    EXPECT_TRUE(plan.failed != "receive" || files <= 3);
    ASSERT_LT(n, 200) << "the run never went through";
  }
}

TEST_F(FaultTest, AQuoteRunEndsCleanlyWhereverTheSocketFails) {
  auto quote_reply = [](const std::string& request) {
    transport::clsElement e;
    transport::SplitElements(request, e, true);
    return "VEXMSG:2:AIWPK:" + e.Item(4) + ":DE" + e.Item(4) + ":" + e.Item(6) +
           ":01.12.2026*10,5#02.12.2026*11:MSGEND";
  };
  for (int n = 1;; ++n) {
    Restart();
    run().attempts = 0;
    SaveRecord();
    hung = false;
    for (const char* wkn : {"100", "200", "300"})
      vc->Aktien()->Add(wkn, "", std::string("Name ") + wkn);
    FaultPlan plan;
    plan.fail_at = n;
    Script(plan, quote_reply);
    vc->SetModus(vexCommWPK);
    vc->Send();
    std::string label = "failure at operation " + std::to_string(n) + " (" + plan.failed + ")";
    EXPECT_FALSE(hung) << label;
    int32_t quotes = 0;
    for (int32_t i = 1; i <= vc->Aktien()->Count(); ++i)
      quotes += vc->Aktien()->Item(i)->KursCount();
    // Whole replies only: each stock has its two quotes or none.
    EXPECT_EQ(quotes % 2, 0) << label;
    if (plan.failed.empty()) {
      EXPECT_EQ(quotes, 6);
      EXPECT_EQ(vc->Fehler()->Code, vcerrNoError);
      break;
    }
    EXPECT_NE(vc->Fehler()->Code, vcerrNoError) << label;
    ASSERT_LT(n, 200) << "the run never went through";
  }
}

TEST_F(FaultTest, HostileRepliesChangeNothingOutsideThemselves) {
  struct Case {
    std::string name;
    std::vector<std::string> replies;
    int32_t datei_nr;
    std::size_t files;
  } const cases[] = {
      // What the socket makes of NUL and the bytes Windows-1252 leaves undefined.
      {"NUL bytes and stray bytes in a file",
       {"VEXMSG:2:AINEW:1:MSGEND", FileFrame(18, "a", std::string("x\0y\xc2\x81\xc3\xbf", 7))},
       18,
       1},
      {"absurd length prefix",
       {"VEXMSG:2:AINEW:1:MSGEND",
        "VEXMSG:2:AIGET:18:a:TXT:::0:0:::@99999999999999999999999@x:0:MSGEND"},
       17,  // the content swallows the rest: no number, no file, the cursor stays
       0},
      {"garbage instead of a reply", {"\x01\x02:MSGEND"}, 17, 0},
      // The number cannot be read: the cursor stays where it was.
      {"AIGET with an absurd number",
       {"VEXMSG:2:AINEW:1:MSGEND", FileFrame(18, "a", "a").replace(15, 2, "1e300")},
       17,
       0},
  };
  for (const auto& c : cases) {
    Restart();
    run().user.DateiNr = 17;
    SaveRecord();
    std::size_t files = 0;
    vc->OnNeueDatei([&](const NeueDateiEvent&) { ++files; });
    for (const auto& r : c.replies) sock->replies.push_back({r});
    // After its last reply the server falls silent: a run still waiting then ends by the
    // socket's idle time-out, as on a real connection.
    sock->on_send = [](ScriptedSocket& s, const std::string&) {
      if (!s.replies.empty()) {
        s.RaiseReceive(s.replies.front().front());
        s.replies.pop_front();
      }
      if (s.replies.empty()) s.RaiseError("Zeitüberschreitung", "10060");
    };
    vc->SetModus(VexCommGetNew);
    vc->Send();
    EXPECT_EQ(run().user.DateiNr, c.datei_nr) << c.name;
    EXPECT_EQ(files, c.files) << c.name;
    EXPECT_TRUE(run().fehler->Code == vcerrNoError || run().fehler->Code == vcerrNoConnection)
        << c.name;
  }
}

TEST_F(FaultTest, OnlyAFileReplyMayBeLarge) {
  // Limits count octets as received: "ä" is one, though two bytes once decoded.
  std::string umlauts;
  for (int i = 0; i < 100; ++i) umlauts += "ä";
  struct Case {
    const char* name;
    std::string head;
    std::string piece;  // sent 15 times
    bool refused;
  } const cases[] = {
      {"a notice over the small limit", "VEXMSG:2:AIRMG:", std::string(100, '7'), true},
      {"a deposit list over the small limit", "VEXMSG:2:AITGA:", std::string(100, '7'), true},
      {"a file under its limit", "VEXMSG:2:AIGET:", std::string(100, '7'), false},
      {"a file of umlauts under its limit", "VEXMSG:2:AIGET:@1500@", umlauts, false},
      {"a file over its limit", "VEXMSG:2:AIGET:", std::string(140, '7'), true},
  };
  for (const auto& c : cases) {
    Restart();
    module->SetMaxFrameBytes(2000);
    module->SetMaxNonFileFrameBytes(1000);
    sock->on_send = [&c](ScriptedSocket& s, const std::string&) {
      s.RaiseReceive(c.head);
      for (int i = 0; i < 15; ++i) s.RaiseReceive(c.piece);
      s.RaiseError("Zeitüberschreitung", "10060");
    };
    vc->SetModus(VexCommGetNew);
    vc->Send();
    const std::string& text = vc->Fehler()->Text;
    EXPECT_EQ(vc->Fehler()->Code, vcerrNoConnection) << c.name;
    EXPECT_EQ(text.find("größer als") != std::string::npos, c.refused) << c.name << ": " << text;
    if (!c.refused) continue;
    const bool file = c.head.starts_with("VEXMSG:2:AIGET:");
    EXPECT_TRUE(text.ends_with(file ? " 2000 Bytes" : " 1000 Bytes")) << c.name << ": " << text;
    EXPECT_EQ(sock->calls.back(), "Close") << c.name;
    EXPECT_EQ(state().receive_buffer.size(), 0u) << c.name;
  }
}

}  // namespace
}  // namespace vexcomm::testing
