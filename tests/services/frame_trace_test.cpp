#include "services/frame_trace.h"

#include <gtest/gtest.h>

#include "platform/trace_file.h"
#include "services/messages.h"
#include "services/run_state_fixture.h"
#include "services/support_requests.h"

namespace vexcomm::services {
namespace {

// Each record as its frame and the masked elements "element:kind:length".
struct RecordingSink : TraceSink {
  void Record(const TraceRecord& r) override {
    std::string masks;
    for (const auto& m : r.masks) {
      masks += std::to_string(m.element) + ":" + std::string(TraceMaskKindName(m.kind)) + ":" +
               std::to_string(m.length) + " ";
      if (m.kind == TraceMask::Kind::kFile)
        masks += std::string(m.first) + "|" + std::string(m.last);
    }
    records.push_back(std::string(r.frame) + " " + masks);
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
      {"unmasked", true, [](auto& r) { SendeAKNEW(r.state); }, "VEXMSG:2:AKNEW:123:K7:9:5:MSGEND "},
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

}  // namespace
}  // namespace vexcomm::services
