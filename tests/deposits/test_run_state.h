#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <vexcomm/cls_fehler.h>
#include <vexcomm/deposits.h>

#include "services/run_state.h"
#include "transport/cls_element.h"
#include "transport/frame.h"

namespace vexcomm::testing {

// A run state as the component would hand it to builders and handlers, with the host's side
// recorded: message boxes, log lines and sent frames, in the order they happened.
class TestRunState {
 public:
  TestRunState() {
    state.elements = std::make_shared<transport::clsElement>();
    state.fehler = std::make_shared<clsFehler>();
    state.tagesgeld = clsTagesgeld::Create();
    state.festgeld = clsTagesgeld::Create();
    state.host.message_box = [this](const std::string& title, const std::string& text) {
      boxes.emplace_back(title, text);
      events.push_back("box:" + title);
    };
    state.callback = automation::MakeCallback([this](int16_t kind, const std::string& text) {
      if (kind == 0) log.push_back(text);
      events.push_back("callback:" + std::to_string(kind));
    });
    state.send_frame = [this] {
      sent.push_back(state.outgoing_frame);
      events.push_back("send");
    };
  }
  TestRunState(const TestRunState&) = delete;
  TestRunState& operator=(const TestRunState&) = delete;

  // What the dispatcher does before it calls a handler.
  void Receive(std::string_view frame) { transport::SplitElements(frame, *state.elements, true); }

  services::RunState state;
  std::vector<std::pair<std::string, std::string>> boxes;
  std::vector<std::string> log;
  std::vector<std::string> sent;
  std::vector<std::string> events;
};

}  // namespace vexcomm::testing
