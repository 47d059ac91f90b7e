#include "services/frame_trace.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "platform/trace_file.h"
#include "services/messages.h"
#include "services/run_state_fixture.h"
#include "services/support_requests.h"
#include "support/temp_dir.h"

namespace vexcomm::services {
namespace {

// Each record as "unmasked " when it is, its frame and the masked elements "element:kind:length".
struct RecordingSink : TraceSink {
  void Record(const TraceRecord& r) override {
    std::string masks;
    for (const auto& m : r.masks) {
      masks += std::to_string(m.element) + ":" + std::string(TraceMaskKindName(m.kind)) + ":" +
               std::to_string(m.length) + " ";
      if (m.kind == TraceMask::Kind::kFile)
        masks += std::string(m.first) + "|" + std::string(m.last);
    }
    records.push_back((r.unmasked ? "unmasked " : "") + std::string(r.frame) + " " + masks);
  }
  std::vector<std::string> records;
};

TEST(FrameTrace, MasksPrivateFieldsWithoutMovingAnyElement) {
  const std::string content = "Anfang-Ä" + std::string(300, 'x') + "Ende";
  struct Case {
    const char* name;
    bool unmasked;
    std::function<void(testing::RecordingRunState&)> act;
    std::string record;
  } const cases[] = {
      {"a ':' in a name is two elements on the wire, so two masks", false,
       [](auto& r) { SendeAKLOG(r.state); },
       "VEXMSG:2:AKLOG:***:**:*****:**:**:***:[5 chars]::[3 chars]:MSGEND 4:identity:3 "
       "5:identity:2 "
       "6:identity:5 7:identity:2 8:identity:2 9:identity:3 10:text:5 12:text:3 "},
      {"unmasked", true, [](auto& r) { SendeAKNEW(r.state); },
       "unmasked VEXMSG:2:AKNEW:123:K7:9:5:MSGEND "},
      // A run that ends before it connects writes only this record: it says the trace is unmasked.
      {"the end of an unmasked run", true, [](auto& r) { TraceEnd(r.state); }, "unmasked  "},
      {"a large file's content", false,
       [&](auto& r) {
         TraceReceived(r.state, "VEXMSG:2:AIGET:9:f:t:::::::@312@" + content + ":0:MSGEND");
       },
       "VEXMSG:2:AIGET:9:f:t:::::::[312 chars]:0:MSGEND 13:file:312 "
       "Anfang-Äxxxxxxxx|xxxxxxxxxxxxEnde"},
      {"a small one stands", false,
       [](auto& r) { TraceReceived(r.state, "VEXMSG:2:AIGET:9:f:t:::::::@3@a:b:0:MSGEND"); },
       "VEXMSG:2:AIGET:9:f:t:::::::@3@a:b:0:MSGEND "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing::RecordingRunState run;
    auto sink = std::make_shared<RecordingSink>();
    run.state.host.trace = sink;
    run.state.host.trace_unmasked = c.unmasked;
    run.state.user = {"123", "K7", 9, "Erika", "Mü:ll", "e@x"};
    run.state.log_datum = "Heute";
    run.state.log_support = "a:b";
    c.act(run);
    EXPECT_EQ(sink->records, std::vector<std::string>{c.record});
  }
}

// The file sink writes one JSON object per record, the schema on the first, and a masked file's
// SHA-256.
TEST(FrameTrace, TheFileHoldsOneJsonObjectPerRecord) {
  test::TempDir dir;
  const auto file = dir.path() / "run.trace";
  testing::RecordingRunState run;
  run.state.host.trace = OpenTraceFile(file);
  TraceReceived(run.state,
                "VEXMSG:2:AIGET:9:f:t:::::::@300@" + std::string(300, 'x') + ":0:MSGEND");
  TraceReceived(run.state, "VEXMSG:2:AIERR:1:\"q\\\n\x01:MSGEND");
  run.state.host.trace.reset();  // closes the file
  std::istringstream in(test::ReadFile(file));
  std::vector<nlohmann::json> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(nlohmann::json::parse(line));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0]["schema"], kTraceSchema);
  EXPECT_EQ(lines[0]["masks"][0]["sha256"],
            "0d4e2ca9e9cbced7a7a5380eb29e1a3783b9b6d0db72de36a1051038e1c1fbc7");
  EXPECT_EQ(lines[1]["frame"], "VEXMSG:2:AIERR:1:\"q\\\n\x01:MSGEND");
  EXPECT_FALSE(lines[1].contains("schema"));

  // A trace into a pipe leaves the pipe's mode alone: only a file of the trace's own is made 0600.
  const auto pipe = dir.path() / "pipe";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0644), 0);
  const auto mode = [&] { return std::filesystem::status(pipe).permissions(); };
  const auto before = mode();
  std::thread reader([&] { test::ReadFile(pipe); });
  OpenTraceFile(pipe).reset();
  reader.join();
  EXPECT_EQ(mode(), before);
}

}  // namespace
}  // namespace vexcomm::services
