#include "services/reply_dispatcher.h"

#include "services/messages.h"
#include "services/run_state_fixture.h"

namespace vexcomm::testing {
namespace {

using ::testing::ElementsAre;

constexpr services::ReplyHandlerEntry kHandlers[] = {
    {"AIERR", services::VerarbeiteAIERR},
    {"AIRMG", services::VerarbeiteAIRMG},
    {"AINEW", services::VerarbeiteAINEW},
};

struct Outcome {
  int32_t code;
  std::string text;
  int32_t remaining;
  int32_t attempts;
  std::vector<std::string> log;
};

TEST(ReplyDispatcherTest, GeneralRepliesAndInvalidFrames) {
  struct Case {
    std::string frame;
    Outcome expected;
  };
  // Before each frame: Code 3, Text "alt", 7 files remaining, counter 2.
  const std::vector<Case> cases = {
      {"VEXMSG:2:AIERR:9056:Unbekannt:MSGEND", {5, "Unbekannt", 0, 0, {"FEHLER:  Unbekannt"}}},
      {"VEXMSG:2:AIERR:9058:x:MSGEND", {5, "x", 0, 0, {"FEHLER:  x"}}},
      {"VEXMSG:2:AIERR:1234:y:MSGEND", {1234, "y", 0, 0, {"FEHLER:  y"}}},
      {"VEXMSG:2:AIERR:9056 :z:MSGEND", {9056, "z", 0, 0, {"FEHLER:  z"}}},
      {"VEXMSG:2:AIERR:abc:t:MSGEND", {0, "t", 0, 0, {"FEHLER:  t"}}},
      {"VEXMSG:2:AIERR:MSGEND", {0, "", 0, 0, {"FEHLER:  "}}},
      // Out of range: the dispatcher logs, nothing changes, the counter stays.
      {"VEXMSG:2:AIERR:99999999999:t:MSGEND",
       {3, "alt", 7, 2, {"FEHLER:  t", "VexComm-Fehler: Overflow "}}},
      {"VEXMSG:2:AIRMG:10:Erhalten:MSGEND", {10, "10", 7, 0, {"Meldung:  Erhalten (10)"}}},
      {"VEXMSG:3:AIRMG:10.0:a:MSGEND", {10, "10.0", 7, 0, {"Meldung:  a (10.0)"}}},
      {"VEXMSG:2:AIRMG:10.4:a:MSGEND", {3, "10.4", 7, 0, {"Meldung:  a (10.4)"}}},
      {"VEXMSG:2:AIRMG:MSGEND", {3, "MSGEND", 7, 0, {"Meldung:   (MSGEND)"}}},
      {"VEXMSG:2:AIXYZ:1:MSGEND", {3, "alt", 7, 0, {}}},
      {"VEXMSG:2:aierr:1:MSGEND", {3, "alt", 7, 0, {}}},
      {"XMSG:2:AINEW:3:MSGEND",
       {3, "alt", 7, 2, {"Keine gültige Nachricht: XMSG:2:AINEW:3:MSGEND "}}},
  };
  for (const auto& c : cases) {
    RecordingRunState r;
    r.state.fehler->Code = 3;
    r.state.fehler->Text = "alt";
    r.state.cursor.SetRemainingFiles(7);
    r.state.attempts = 2;
    r.state.handled_reply = "AIOLD";  // the reply before: never this frame's
    services::DispatchReceivedFrame(r.state, std::string(c.frame), kHandlers);
    EXPECT_NE(r.state.handled_reply, "AIOLD") << c.frame;
    EXPECT_EQ(r.state.fehler->Code, c.expected.code) << c.frame;
    EXPECT_EQ(r.state.fehler->Text, c.expected.text) << c.frame;
    EXPECT_EQ(r.state.cursor.remaining_files(), c.expected.remaining) << c.frame;
    EXPECT_EQ(r.state.attempts, c.expected.attempts) << c.frame;
    EXPECT_EQ(r.Lines(), c.expected.log) << c.frame;
  }
}

TEST(MessagesTest, NewFilesCountAndRequests) {
  struct Case {
    std::string count;
    int32_t n;
    std::string log;
  };
  for (const auto& c :
       {Case{"3", 3, "3 neue Nachrichten "}, Case{"0", 0, "Keine neuen Nachrichten "},
        Case{" 2.5", 2, " 2.5 neue Nachrichten "}, Case{"x", 0, "Keine neuen Nachrichten "}}) {
    RecordingRunState r;
    transport::SplitElements("VEXMSG:2:AINEW:" + c.count + ":MSGEND", *r.state.elements, true);
    services::VerarbeiteAINEW(r.state);
    EXPECT_EQ(r.state.cursor.remaining_files(), c.n) << c.count;
    EXPECT_EQ(r.state.cursor.announced_files(), c.n) << c.count;
    EXPECT_EQ(r.state.progress_total, c.n) << c.count;
    EXPECT_THAT(r.Lines(), ElementsAre(c.log));
  }

  RecordingRunState r;
  r.state.user = {"11122233", "4711", -4, "", "", ""};
  r.state.progress_counter = 1;
  r.state.progress_total = 2;
  r.state.cursor.AnnounceFiles(2);
  services::SendeAKNEW(r.state);
  services::SendeAKGET(r.state);
  EXPECT_THAT(r.sent, ElementsAre("VEXMSG:2:AKNEW:11122233:4711:-4:5:MSGEND",
                                  "VEXMSG:2:AKGET:11122233:4711:-4:5:MSGEND"));
  EXPECT_THAT(r.Lines(3), ElementsAre("Hole Nachricht 2 von 2"));
  EXPECT_THAT(r.Lines(2), ElementsAre("50"));
  EXPECT_EQ(services::NumberWithSign(-3), "-3");
  EXPECT_EQ(services::NumberWithSign(0), " 0");
}

TEST(MessagesTest, FileRepliesMoveTheCursorAndRaiseTheRightEvent) {
  struct Case {
    std::string frame;
    int32_t datei_nr;
    int neue;
    std::vector<std::string> deleted;  // the number each Delete event carries
    std::size_t boxes;
    std::string skipped;  // number and name told of a file without content; empty: none
  } const cases[] = {
      {"VEXMSG:2:AIGET:18:a:txt:::0:0:::@5@ab:cd:0:MSGEND", 18, 1, {}, 0, ""},
      {"VEXMSG:2:AIGET:19:a:Delete:::0:0::::17:MSGEND", 19, 0, {"17"}, 0, ""},
      {"VEXMSG:2:AIGET:20:a:txt:::0:0::::0:MSGEND", 20, 0, {}, 0, "20 a"},
      {"VEXMSG:2:AIGET:21:b.txt:txt:::0:0:::abcdefghi@x:31:MSGEND", 21, 0, {}, 0, "31 b.txt"},
      // A number out of range: a box for the cursor and one for the event, which is not raised;
      // the remaining steps still run.
      {"VEXMSG:2:AIGET:99999999999:a:txt:::0:0:::@1@x:0:MSGEND", 5, 0, {}, 2, ""},
  };
  for (const auto& c : cases) {
    RecordingRunState r;
    r.state.user.DateiNr = 5;
    r.state.cursor.SetRemainingFiles(1);
    transport::SplitElements(c.frame, *r.state.elements, true);
    services::VerarbeiteDatei(r.state);
    EXPECT_EQ(r.state.user.DateiNr, c.datei_nr) << c.frame;
    EXPECT_EQ(r.state.cursor.remaining_files(), 0) << c.frame;
    EXPECT_EQ(r.state.progress_counter, 1) << c.frame;
    EXPECT_EQ(r.neue_datei, c.neue) << c.frame;
    EXPECT_EQ(r.deleted, c.deleted) << c.frame;
    ASSERT_EQ(r.boxes.size(), c.boxes) << c.frame;
    if (c.boxes) {
      EXPECT_EQ(r.boxes[0].first, "VerarbeiteDatei");
    }
    if (c.skipped.empty()) {
      EXPECT_TRUE(r.skipped.empty()) << c.frame;
    } else {
      EXPECT_THAT(r.skipped, ElementsAre(c.skipped)) << c.frame;
      EXPECT_EQ(r.Lines().back(), "Datei ohne Inhalt übersprungen: " + c.skipped + " ") << c.frame;
    }
  }
}

TEST(MessagesTest, NeueDateiValuesFromTheReply) {
  struct Case {
    std::string e13;
    std::string e4;
    std::string e14;
    bool raised;
    std::string datei;
    int32_t nummer;
  };
  const std::string twelve = "abcdefghijkl";
  const std::string big(10000000, 'x');
  const std::vector<Case> cases = {
      {"@12@" + twelve, "4", "0", true, twelve, 4},
      {"@0000012@" + twelve, "4", "23", true, twelve, 23},
      // Eight or more length digits: the file is still found.
      {"@10000000@" + big, "4", "", true, big, 4},
      {"@5", "4", "0", false, "", 0},
      {"", "17", "", false, "", 0},
      // Where the content starts is FileContentOffset's.
      {"X@hello", "4", "0", true, "hello", 4},
  };
  for (const auto& c : cases) {
    transport::clsElement e;
    std::string frame =
        "VEXMSG:2:AIGET:" + c.e4 + ":n:pdf:v:b:1:2:t:u:" + c.e13 + ":" + c.e14 + ":MSGEND";
    transport::SplitElements(frame, e, true);
    auto values = services::TakeNeueDatei(e);
    ASSERT_EQ(values.has_value(), c.raised) << c.e13.substr(0, 12);
    if (!values) continue;
    EXPECT_TRUE(values->Datei == c.datei);
    EXPECT_EQ(e.Item(13), "");  // moved out, not copied
    EXPECT_EQ(e.Item(14), c.e14);
    EXPECT_EQ(values->DateiNummer, c.nummer);
    EXPECT_EQ(values->Typ, "PDF");
    EXPECT_EQ(values->AnzeigeDauer, 1);
    EXPECT_EQ(values->Wichtigkeit, 2);
  }
}

}  // namespace
}  // namespace vexcomm::testing
