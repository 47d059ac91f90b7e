#include <fstream>
#include <regex>

#include <vexcomm/identity.h>
#include <vexcomm/quotes.h>
#include <vexcomm/trace.h>

#include "component/component_fixture.h"

namespace vexcomm::testing {
namespace {

using ::testing::ElementsAre;

struct Events {
  std::vector<NeueDateiEvent> files;
  std::vector<automation::VariantArray> deletes;
  std::vector<int32_t> noch;
};

class RunTest : public ComponentTest {
 protected:
  void SetUp() override {
    ComponentTest::SetUp();
    Attach(*vc);
    run().user.BLZ = "11122233";
    run().user.KundenNr = "4711";
    run().user.DateiNr = 17;
    SaveRecord();
  }
  void Attach(VexComm& v) {
    v.OnNeueDatei([this](const NeueDateiEvent& e) {
      events.files.push_back(e);
      if (on_file) on_file(e);
    });
    v.OnDelete([this](const automation::VariantArray& a) { events.deletes.push_back(a); });
    v.OnNochAufServer([this](int32_t n) { events.noch.push_back(n); });
  }
  // A new module on the stored record, with the cursor at `datei_nr`.
  void Reopen(int32_t datei_nr = 17) {
    Restart();
    Attach(*vc);
    run().user.DateiNr = datei_nr;
    SaveRecord();
  }
  std::vector<std::string> ThreeFiles() {
    return {FileFrame(18, "a.txt", "eins"), FileFrame(19, "b.txt", "zwei:@\r\nä"),
            FileFrame(20, "c.txt", "drei")};
  }

  Events events;
  std::function<void(const NeueDateiEvent&)> on_file;
};

TEST_F(RunTest, FetchesNewFilesAsTheHostExpects) {
  WriteIni("[Comm]\r\nIP = vexmsg.example.test\r\n");
  auto files = ThreeFiles();
  int gets = 0;
  sock->on_send = [&](ScriptedSocket& s, const std::string& request) {
    if (request.find(":AKNEW:") != std::string::npos) {
      for (const char* piece : {"VEXMSG:2:AIN", "", "EW:3:MS", "GEND"}) s.RaiseReceive(piece);
    } else {
      s.RaiseReceive(files[static_cast<std::size_t>(gets++)]);
    }
  };
  vc->SetModus(VexCommGetNew);
  EXPECT_FALSE(vc->Send());

  // Requests, files and log lines as the reference server sees them are proven over TLS; here
  // what the host sees of the run: the socket calls, operation names and progress.
  EXPECT_EQ(sock->sent.size(), 4u);
  EXPECT_EQ(sock->calls.front(), "SetSecure(1)");
  EXPECT_EQ(sock->calls[1], "Connect(vexmsg.example.test:443)");
  EXPECT_EQ(sock->calls.back(), "Close");
  ASSERT_EQ(events.files.size(), 3u);
  EXPECT_EQ(events.files[1].Datei, "zwei:@\r\nä");
  EXPECT_THAT(events.noch, ElementsAre(0));
  EXPECT_EQ(vc->Fehler()->Code, vcerrNoError);
  EXPECT_EQ(vc->Modus(), VexCommGetNew);
  EXPECT_EQ(LogLines().front(), "SSL-Connect : vexmsg.example.test ");
  EXPECT_THAT(Reports(4), ElementsAre("Auf neue Nachrichten prüfen", "Auf neue Nachrichten prüfen",
                                      "Datei holen", "Datei holen", "Datei holen"));
  auto progress = Reports(2);
  ASSERT_EQ(progress.size(), 3u);
  EXPECT_EQ(progress[0], "0");
  EXPECT_TRUE(std::regex_match(progress[1], std::regex("33[.,]3{13}"))) << progress[1];
  EXPECT_TRUE(std::regex_match(progress[2], std::regex("66[.,]6{12}7"))) << progress[2];
  // The operation name comes as kind 4 then 3, before each request.
  EXPECT_EQ(reports[0], std::make_pair(4, std::string("Auf neue Nachrichten prüfen")));
  EXPECT_EQ(reports[1], std::make_pair(3, std::string("Auf neue Nachrichten prüfen")));
}

// Large files arrive in chunks and each is received into the memory of the one before: a
// smaller file after a larger one, and a larger after a smaller, must come out exactly.
TEST_F(RunTest, LargeFilesOneAfterAnother) {
  const std::vector<std::string> contents = {std::string(3u << 20, 'a'),
                                             std::string((2u << 20) + 5, 'b') + "ä",
                                             std::string(4u << 20, 'c')};
  std::vector<std::string> frames;
  for (std::size_t i = 0; i < contents.size(); ++i)
    frames.push_back(FileFrame(18 + static_cast<int>(i), "f.txt", contents[i]));
  std::size_t gets = 0;
  sock->on_send = [&](ScriptedSocket& s, const std::string& request) {
    if (request.find(":AKNEW:") != std::string::npos)
      return s.RaiseReceive("VEXMSG:2:AINEW:3:MSGEND");
    const std::string& frame = frames[gets++];
    for (std::size_t pos = 0; pos < frame.size(); pos += 16384)
      s.RaiseReceive(frame.substr(pos, 16384));
  };
  vc->SetModus(VexCommGetNew);
  EXPECT_FALSE(vc->Send());
  ASSERT_EQ(events.files.size(), contents.size());
  for (std::size_t i = 0; i < contents.size(); ++i)
    EXPECT_TRUE(events.files[i].Datei == contents[i]) << i;
  EXPECT_EQ(run().user.DateiNr, 20);
}

TEST_F(RunTest, TwoHostsTakeTurnsAndKeepEachOthersChanges) {
  // A second host on the same installation, made before the first one runs.
  Module other_module(Host());
  auto other = VexComm::Create(other_module);
  auto other_sock =
      std::make_shared<ScriptedSocket>(detail::ModuleAccess::State(other_module)->loop);
  other->SetSocket(other_sock);
  int other_files = 0;
  other->OnNeueDatei([&](const NeueDateiEvent&) { ++other_files; });
  ServeFiles(ThreeFiles(), 18);
  ServeFiles(ThreeFiles(), 18, other_sock.get());
  const auto registry = dir / "registry";
  on_file = [&](const NeueDateiEvent&) {
    if (events.files.size() != 1) return;
    EXPECT_FALSE(InstallationLock::Acquire(registry, InstallationLock::Wait::kNo));
    // The user renames the installation while the run goes on.
    Identity identity = ReadIdentity(registry);
    identity.Nachname = "Neumann";
    WriteIdentity(registry, identity);
  };
  for (VexComm* host : {vc.get(), other.get()}) {
    auto lock = InstallationLock::Acquire(registry, InstallationLock::Wait::kNo);
    ASSERT_TRUE(lock);
    host->SetModus(VexCommGetNew);
    host->Send();
  }
  EXPECT_EQ(events.files.size(), 3u);
  EXPECT_EQ(other_files, 0) << "the second run fetched files again";
  const Identity stored = ReadIdentity(registry);
  EXPECT_EQ(stored.DateiNr, 20);
  EXPECT_EQ(stored.Nachname, "Neumann");
  EXPECT_EQ(stored.BLZ, "11122233");

  // A lock moved onto another keeps its installation locked; the one it replaced lets go.
  const auto second = dir / "second-registry";
  std::filesystem::create_directories(second);
  auto held = InstallationLock::Acquire(registry, InstallationLock::Wait::kNo);
  EXPECT_EQ(std::filesystem::status(registry / "installation.lock").permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  auto replaced = InstallationLock::Acquire(second, InstallationLock::Wait::kNo);
  ASSERT_TRUE(held && replaced);
  *replaced = std::move(*held);
  EXPECT_FALSE(InstallationLock::Acquire(registry, InstallationLock::Wait::kNo));
  EXPECT_TRUE(InstallationLock::Acquire(second, InstallationLock::Wait::kNo));
}

TEST_F(RunTest, AStoreThatCannotBeTrustedIsToldOfBeforeTheRun) {
  const auto file = dir / "registry" / "HKEY_CURRENT_USER.txt";
  struct Case {
    std::string name;
    bool damaged;  // or unreadable
    std::size_t requests;
  };
  for (const Case& c : {Case{"damaged", true, 1}, Case{"unreadable", false, 0}}) {
    Restart();
    if (c.damaged) {
      std::ofstream(file, std::ios::app) << "\x01 not a line of the store\n";
    } else {
      std::filesystem::remove_all(file);
      std::filesystem::create_directories(file);
    }
    boxes.clear();
    ServeFiles({}, 18);
    vc->SetModus(vexCommCheckNew);
    vc->Send();
    ASSERT_EQ(boxes.size(), 1u) << c.name;
    EXPECT_NE(boxes[0].second.find(file.string()), std::string::npos) << boxes[0].second;
    EXPECT_EQ(sock->sent.size(), c.requests) << c.name;
    if (c.damaged) {
      // What could be read carries on: the cursor is not lost.
      EXPECT_THAT(sock->sent, ElementsAre("VEXMSG:2:AKNEW:11122233:4711:17:5:MSGEND"));
    } else {
      EXPECT_EQ(vc->Fehler()->Code, vcerrOther);
    }
  }
}

TEST_F(RunTest, CheckNewBecomesGetNewOnlyWhenFilesWait) {
  struct Case {
    int files;
    int32_t modus_after;
    std::size_t requests;
  };
  for (const Case c : {Case{0, vexCommCheckNew, 1}, Case{2, VexCommGetNew, 3}}) {
    Reopen(0);
    auto files = ThreeFiles();
    files.resize(static_cast<std::size_t>(c.files));
    ServeFiles(files, 18);
    vc->SetModus(vexCommCheckNew);
    vc->Send();
    EXPECT_EQ(vc->Modus(), c.modus_after) << c.files;
    EXPECT_EQ(sock->sent.size(), c.requests) << c.files;
    EXPECT_EQ(vc->Fehler()->Code, vcerrNoError);
  }
  EXPECT_THAT(LogLines(), ::testing::Contains("Keine neuen Nachrichten "));
}

TEST_F(RunTest, CancelInsideAnEventKeepsWhatArrived) {
  ServeFiles(ThreeFiles(), 18);
  on_file = [this](const NeueDateiEvent&) { vc->CancelSend(); };
  vc->SetModus(VexCommGetNew);
  vc->Send();
  EXPECT_EQ(vc->Fehler()->Code, vcerrOther);
  EXPECT_EQ(vc->Fehler()->Text, "Benutzer-Abbruch");
  EXPECT_THAT(events.noch, ElementsAre(2));
  EXPECT_EQ(sock->sent.size(), 2u);
  EXPECT_EQ(sock->calls.back(), "Close");
  Restart();
  EXPECT_EQ(run().user.DateiNr, 18);

  // A cancel from inside NochAufServer asks for the close under way: it does not start another.
  Reopen(20);
  vc->OnNochAufServer([this](int32_t) {
    if (events.noch.size() < 4) vc->CancelSend();  // bounded: a run that loops fails, not hangs
  });
  ServeFiles(ThreeFiles(), 18);
  vc->SetModus(VexCommGetNew);
  vc->Send();
  EXPECT_THAT(events.noch, ElementsAre(2, 0));
  EXPECT_EQ(std::count(sock->calls.begin(), sock->calls.end(), "Close"), 1);
}

TEST_F(RunTest, ARefusedFileEndsTheRunAndStaysOnTheServer) {
  struct Case {
    int refuse_at;  // index of the event whose handler refuses; -1: refused outside a handler
    int32_t datei_nr;
    int32_t waiting;
    std::size_t requests;
    bool by_throwing = false;  // the handler throws instead of calling RefuseFile
    bool durable = true;       // the host could make the files it took durable
  };
  for (const Case c :
       {Case{0, 17, 3, 2}, Case{1, 18, 2, 3}, Case{-1, 20, 0, 4}, Case{0, 17, 3, 2, true},
        Case{1, 18, 2, 3, true}, Case{-1, 17, 0, 4, false, false}}) {
    Reopen();
    run().host.make_files_durable = [&c] { return c.durable; };
    int seen = 0;
    auto refuse = [&] {
      if (seen++ != c.refuse_at) return;
      if (c.by_throwing) throw std::runtime_error("kein Platz");
      vc->RefuseFile("kein Platz");
    };
    on_file = [&](const NeueDateiEvent&) { refuse(); };
    vc->OnDelete([&](const automation::VariantArray&) { refuse(); });
    ServeFiles({FileFrame(18, "a.txt", "eins"), FileFrame(19, "", "", "DELETE", "18"),
                FileFrame(20, "c.txt", "drei")},
               18);
    vc->RefuseFile("vorher");
    vc->SetModus(VexCommGetNew);
    vc->Send();
    vc->RefuseFile("nachher");
    const bool refused = c.refuse_at >= 0;
    EXPECT_EQ(vc->Fehler()->Code, refused ? vcerrOther : vcerrNoError) << c.refuse_at;
    EXPECT_EQ(vc->Fehler()->Text, refused ? "Datei nicht angenommen: kein Platz" : "");
    EXPECT_EQ(vc->Outcome()->kind == OutcomeKind::kFileRefused, refused || !c.durable);
    EXPECT_EQ(events.noch.back(), c.waiting) << c.refuse_at;
    EXPECT_EQ(run().progress_counter, 3 - c.waiting) << c.refuse_at;
    EXPECT_EQ(sock->sent.size(), c.requests) << c.refuse_at;
    EXPECT_EQ(sock->calls.back(), "Close") << c.refuse_at;
    Restart();
    EXPECT_EQ(run().user.DateiNr, c.datei_nr) << c.refuse_at;
  }
  on_file = nullptr;
}

TEST_F(RunTest, EverySocketErrorEndsTheRunLoggedFromTheThirdAttempt) {
  struct Case {
    std::string code;
    int attempt;
    std::string log;  // empty: none
    OutcomeKind kind;
  } const cases[] = {
      {"10061", 1, "", OutcomeKind::kNetworkRefused},
      {"10053", 2, "", OutcomeKind::kNetworkClosed},
      {"10060", 1, "", OutcomeKind::kNetworkTimeout},
      {"11001", 3, "Socket Fehler: 11001 Kaputt ", OutcomeKind::kNetworkUnreachable},
      {"10060", 3, "Timeout ", OutcomeKind::kNetworkTimeout},
      // Codes outside the known network causes end the run all the same.
      {"10054", 4, "Socket Fehler: 10054 Kaputt ", OutcomeKind::kNetworkClosed},
      {"10065", 1, "", OutcomeKind::kNetworkUnreachable},
  };
  for (const auto& c : cases) {
    Restart();
    run().attempts = c.attempt - 1;
    SaveRecord();
    bool waiting_after_error = false;
    sock->on_connect = [&](ScriptedSocket& s) {
      s.RaiseError("Kaputt", c.code);
      // Runs after the error: a run that still waits is cancelled, as a host would.
      module->Post([&] {
        waiting_after_error = !run().session_done;
        vc->CancelSend();
      });
    };
    vc->SetModus(VexCommGetNew);
    vc->Send();
    std::string label = c.code + "@" + std::to_string(c.attempt);
    EXPECT_EQ(vc->Fehler()->Code, vcerrNoConnection) << label;
    EXPECT_EQ(vc->Fehler()->Text, "Kaputt") << label;
    EXPECT_EQ(vc->Outcome()->kind, c.kind) << label;
    EXPECT_FALSE(waiting_after_error) << label;
    auto lines = LogLines();
    if (c.log.empty()) {
      EXPECT_TRUE(lines.empty()) << label << ": " << (lines.empty() ? "" : lines[0]);
    } else {
      EXPECT_THAT(lines, ElementsAre(c.log)) << label;
    }
    EXPECT_TRUE(sock->sent.empty());
    Restart();
    EXPECT_EQ(run().attempts, c.attempt) << label;  // the counter is stored
    reports.clear();
  }
}

TEST_F(RunTest, AnswersThatDoNotMoveTheRunOnEndItAfterOneRetry) {
  const std::string notice = "VEXMSG:2:AIRMG:77:Bitte warten:MSGEND";
  const std::string unknown = "VEXMSG:2:AIXYZ:1:MSGEND";
  const std::string invalid = "VEXMSG:9:AIWPK:1:MSGEND";
  const std::string count = "VEXMSG:2:AINEW:1:MSGEND";
  const std::string file = FileFrame(18, "a.txt", "a");
  const std::string quote = "VEXMSG:2:AIWPK:100:DE100:A:01.12.2026*1:MSGEND";
  const std::string stuck = "Die Antworten des Servers bringen den Lauf nicht weiter";
  struct Case {
    int32_t modus;
    std::vector<std::string> answers;  // the last one answers every later request
    std::size_t sent;
    int32_t fehler;
  } const cases[] = {
      {vexCommWPK, {notice}, 2, vcerrNoConnection},
      {vexCommWPK, {unknown}, 2, vcerrNoConnection},
      {vexCommGetAllWPK, {invalid}, 2, vcerrNoConnection},
      {VexCommGetNew, {count, notice}, 3, vcerrNoConnection},
      {VexCommGetNew, {count, invalid}, 3, vcerrNoConnection},
      // A server error ends the fetch at once.
      {VexCommGetNew, {count, "VEXMSG:2:AIERR:9056:Unbekannt:MSGEND"}, 2, vcerrKundeNotFound},
      // One answer that does not move the run is retried, and the run goes on.
      {vexCommWPK, {notice, quote}, 2, vcerrNoError},
      {VexCommGetNew, {count, unknown, file}, 3, vcerrNoError},
  };
  for (const auto& c : cases) {
    Reopen();
    reports.clear();
    vc->Aktien()->Add("100", "", "A");
    std::size_t sends = 0;
    sock->on_send = [&](ScriptedSocket& s, const std::string&) {
      // A run that still asks after ten requests would ask forever.
      if (++sends > 10) return module->Post([this] { vc->CancelSend(); });
      s.RaiseReceive(c.answers[std::min(sends, c.answers.size()) - 1]);
    };
    vc->SetModus(static_cast<vexCommModus>(c.modus));
    vc->Send();
    const std::string label = std::to_string(c.modus) + " " + c.answers.back();
    EXPECT_EQ(sock->sent.size(), c.sent) << label;
    EXPECT_EQ(vc->Fehler()->Code, c.fehler) << label;
    EXPECT_EQ(sock->calls.back(), "Close") << label;
    EXPECT_EQ(events.noch.size(), 1u) << label;
    events.noch.clear();
    if (c.fehler == vcerrNoConnection) {
      EXPECT_EQ(vc->Fehler()->Text, stuck) << label;
      EXPECT_THAT(LogLines(), ::testing::Contains(stuck + " ")) << label;
      // An invalid frame on the way is the first failure, and the cause.
      EXPECT_EQ(vc->Outcome()->kind,
                c.answers.back() == invalid ? OutcomeKind::kInvalidReply : OutcomeKind::kStuckRun)
          << label;
    }
  }
}

TEST_F(RunTest, HostChangesModusDuringTheRun) {
  // A fetch that a cancel interrupted left a file waiting; the host switches to fetching while
  // the notice of its support-log run is handled.
  run().cursor.SetRemainingFiles(1);
  sock->replies = {{"VEXMSG:2:AIRMG:10:Erhalten:MSGEND"}, {FileFrame(18, "x.txt", "x")}};
  vc->SetCallback(automation::MakeCallback([this](int16_t kind, const std::string& text) {
    reports.emplace_back(kind, text);
    if (text.starts_with("Meldung")) vc->SetModus(VexCommGetNew);
  }));
  vc->SetModus(vexCommSendLog);
  vc->Send();
  ASSERT_EQ(sock->sent.size(), 2u);
  EXPECT_TRUE(sock->sent[0].starts_with("VEXMSG:2:AKLOG:"));
  EXPECT_EQ(sock->sent[1], "VEXMSG:2:AKGET:11122233:4711:17:5:MSGEND");
  EXPECT_EQ(events.files.size(), 1u);
  EXPECT_EQ(vc->Fehler()->Code, vcerrSuccess);
  EXPECT_EQ(vc->Fehler()->Text, "10");
}

// Late-bound sinks hear every run on the first instance; typed handlers the runs of their own.
TEST_F(RunTest, TypedHandlersHearTheirOwnInstancesRun) {
  auto second = VexComm::Create(*module);
  Events second_events;
  second->OnNeueDatei([&](const NeueDateiEvent& e) { second_events.files.push_back(e); });
  second->OnNochAufServer([&](int32_t n) { second_events.noch.push_back(n); });
  std::vector<automation::DispId> late_bound;
  auto record = [&](automation::DispId id) {
    return [&late_bound, id](automation::Args) {
      late_bound.push_back(id);
      return automation::Variant();
    };
  };
  vc->Events().Advise(automation::MakeDynamicObject(
      "Sink", {{"NochAufServer", record(1)}, {"Delete", record(2)}, {"NeueDatei", record(3)}}));
  EXPECT_EQ(second->Fehler(), vc->Fehler());
  ServeFiles({FileFrame(18, "a", "a")}, 18);
  second->SetModus(VexCommGetNew);
  second->Send();
  EXPECT_TRUE(events.files.empty());
  ASSERT_EQ(second_events.files.size(), 1u);
  EXPECT_THAT(second_events.noch, ElementsAre(0));
  EXPECT_THAT(late_bound, ElementsAre(3, 1));

  // A cancel without a run or a socket reports the count and keeps Fehler. With the first
  // instance gone the late-bound sinks hear nothing; the second's own close is its own to hear.
  auto fehler = second->Fehler();
  vc.reset();
  second->SetSocket(nullptr);
  run().cursor.SetRemainingFiles(4);
  fehler->Code = vcerrNoConnection;
  second->CancelSend();
  EXPECT_THAT(second_events.noch, ElementsAre(0, 4));
  EXPECT_TRUE(events.noch.empty());
  EXPECT_THAT(late_bound, ElementsAre(3, 1));
  EXPECT_EQ(second->Fehler(), fehler);
  EXPECT_EQ(fehler->Code, vcerrNoConnection);
}

TEST_F(RunTest, FailingOrMissingCallbackChangesNothing) {
  auto outcome = [this](std::shared_ptr<automation::Dispatch> callback) {
    Reopen();
    vc->SetCallback(std::move(callback));
    ServeFiles(ThreeFiles(), 18);
    vc->SetModus(VexCommGetNew);
    vc->Send();
    return std::make_tuple(vc->Fehler()->Code, events.files.size(), sock->sent.size());
  };
  const auto normal = std::make_tuple(vcerrNoError, std::size_t{3}, std::size_t{4});
  for (auto callback :
       {automation::MakeCallback([](int16_t, const std::string&) {}),
        automation::MakeCallback(
            [](int16_t, const std::string&) -> void { throw Error(5, "host failure"); }),
        std::shared_ptr<automation::Dispatch>(), automation::MakeDynamicObject("NoCallback", {})}) {
    events = {};
    EXPECT_EQ(outcome(callback), normal) << (callback ? callback->TypeName() : "none");
  }
}

// What a function the host posts throws is told of; the run it interrupts goes on.
TEST_F(RunTest, AFailingPostedFunctionIsToldOfAndTheRunGoesOn) {
  const std::string line = "Fehler in einer Funktion des Hosts: ";
  struct Case {
    bool during_run;
    std::function<void()> fn;
    std::string cause;
  } const cases[] = {
      {false, [] { throw std::runtime_error("kaputt"); }, "kaputt"},
      {true, [] { throw std::runtime_error("kaputt"); }, "kaputt"},
      {true, [] { throw Error(5, "Ungültig"); }, "Ungültig"},
  };
  for (const auto& c : cases) {
    Reopen();
    reports.clear();
    events = {};
    ServeFiles(ThreeFiles(), 18);
    auto serve = sock->on_send;
    sock->on_send = [&, serve](ScriptedSocket& s, const std::string& request) {
      if (c.during_run && s.sent.size() == 1) module->Post(c.fn);
      serve(s, request);
    };
    if (!c.during_run) module->Post(c.fn);
    vc->SetModus(VexCommGetNew);
    vc->Send();
    EXPECT_EQ(events.files.size(), 3u) << c.cause;
    EXPECT_EQ(vc->Outcome()->kind, OutcomeKind::kOk) << c.cause;
    EXPECT_THAT(LogLines(), ::testing::Contains(line + c.cause)) << c.cause;
  }
}

TEST_F(RunTest, OpeningWithoutSocketOrIni) {
  // No INI file: the standard host, no log line.
  sock->replies = {{"VEXMSG:2:AINEW:0:MSGEND"}};
  vc->SetModus(VexCommGetNew);
  vc->Send();
  EXPECT_EQ(sock->calls[1], std::string("Connect(") + VEXCOMM_STANDARD_HOST + ":443)");
  EXPECT_THAT(LogLines(), ElementsAre("Keine neuen Nachrichten "));

  // INI without the key: the standard host, named in the log line.
  WriteIni("[Comm]\nOther=1\n");
  reports.clear();
  sock->replies = {{"VEXMSG:2:AINEW:0:MSGEND"}};
  vc->Send();
  EXPECT_EQ(LogLines()[0], std::string("SSL-Connect : ") + VEXCOMM_STANDARD_HOST + " ");

  // No socket: a message box, and Send returns at once; its trace still holds the run's end.
  vc->SetSocket(nullptr);
  vc->Fehler()->Code = 77;
  const auto trace = dir / "run.trace";
  run().host.trace = OpenTraceFile(trace);
  vc->Send();
  run().host.trace.reset();
  EXPECT_THAT(test::ReadFile(trace), ::testing::HasSubstr(R"("type":"end")"));
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].first, "VexComm.Connect");
  EXPECT_EQ(vc->Fehler()->Code, vcerrNoError);
  EXPECT_TRUE(run().session_done);
}

TEST_F(RunTest, CodesWithoutRequestWaitUntilCancelled) {
  for (int32_t modus : {6, 1, 99}) {
    Restart();
    sock->on_connect = [this](ScriptedSocket& s) {
      s.RaiseConnectSequence();
      module->Post([this] { vc->CancelSend(); });
    };
    vc->SetModus(static_cast<vexCommModus>(modus));
    vc->Send();
    EXPECT_TRUE(sock->sent.empty()) << modus;
    EXPECT_EQ(vc->Fehler()->Code, vcerrOther) << modus;
  }
}

// Fehler.Code 1 is a refused connection, a refused certificate and a proxy alike; the outcome
// tells them apart, and keeps the boxes the run showed.
TEST_F(RunTest, TheOutcomeTellsHowTheRunEnded) {
  // Connecting raises `first`, then the attempt ends with an error of `code`.
  auto attempt = [this](std::function<void(SocketEvents&)> first, std::string code) {
    sock->on_connect = [first, code](ScriptedSocket& s) {
      s.PostEvent(first);
      s.RaiseError("Kaputt", code);
    };
  };
  auto expired = [](SocketEvents& e) {
    auto cert = std::make_shared<Certificate>();
    cert->verify_error = "certificate has expired";
    bool accept = true;  // the sink decides
    e.OnValidateCertificate(cert, accept);
  };
  const auto registry_file = (dir / "registry" / "HKEY_CURRENT_USER.txt").string();
  struct Case {
    int32_t modus;
    std::function<void()> setup;
    const char* kind;    // its name
    std::string detail;  // a part of it
    int32_t fehler;
  } const cases[] = {
      {VexCommGetNew, [this] { ServeFiles({}, 18); }, "nothing_new", "", 0},
      {VexCommGetNew, [&] { attempt(expired, "10053"); }, "certificate_refused",
       "certificate has expired", vcerrNoConnection},
      // The proxy's other answers count by the error that follows them.
      {VexCommGetNew,
       [&] {
         attempt([](SocketEvents& e) { e.OnProxyError("Proxy-Fehler: 504", "504"); }, "10060");
       },
       "network_timeout", "10060 Kaputt", vcerrNoConnection},
      {vexCommTGA, [this] { sock->replies = {{"VEXMSG:2:AIERR:9056:Unbekannt:MSGEND"}}; },
       "server_error", "Unbekannt", vcerrKundeNotFound},
      {vexCommTGA,
       [this] { sock->replies = {{"VEXMSG:2:AITGA:01.12.2026:::Bank A|1*Kurz:MSGEND"}}; },
       "invalid_reply", "VerarbeiteAITGA", 0},
      {vexCommWPK,
       [this] {
         ASSERT_TRUE(CreateTemplateDatabase(dir / "ini" / "Kurse.dat"));
         std::filesystem::remove_all(dir / "data");
         std::ofstream(dir / "data") << "a file where the data folder should be";
         vc->Aktien()->Add("100", "", "A");
         vc->Aktien()->WriteDB = true;
         sock->replies = {{"VEXMSG:2:AIWPK:100:DE100:A:01.12.2026*1:MSGEND"}};
       },
       "local_store_quote_database", "Kurse.dat", 0},
      {vexCommTGA, [this] { sock->on_send = [this](auto&, auto&) { vc->CancelSend(); }; },
       "cancelled", "", vcerrOther},
      // Last: the store stays unwritable. The files came, but the cursor was not stored.
      {VexCommGetNew,
       [&] {
         ServeFiles(ThreeFiles(), 18);
         std::filesystem::create_directories(registry_file + ".tmp");
       },
       "local_store_registry", registry_file, 0},
  };
  for (const auto& c : cases) {
    Reopen();
    boxes.clear();
    c.setup();
    vc->SetModus(static_cast<vexCommModus>(c.modus));
    vc->Send();
    const RunOutcome& outcome = *vc->Outcome();
    EXPECT_EQ(outcome.name(), c.kind);
    EXPECT_THAT(outcome.detail, ::testing::HasSubstr(c.detail)) << c.kind;
    EXPECT_EQ(vc->Fehler()->Code, c.fehler) << c.kind;
    std::vector<std::pair<std::string, std::string>> shown;
    for (const auto& box : outcome.message_boxes) shown.emplace_back(box.title, box.text);
    EXPECT_EQ(shown, boxes) << c.kind;
  }
}

}  // namespace
}  // namespace vexcomm::testing
