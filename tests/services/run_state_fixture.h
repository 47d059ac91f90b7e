#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <vexcomm/cls_fehler.h>
#include <vexcomm/deposits.h>
#include <vexcomm/quotes.h>

#include "services/run_state.h"
#include "transport/cls_element.h"
#include "transport/frame.h"

namespace vexcomm::testing {

// A run state as the component hands it to builders and handlers, without a socket, with the
// host's side recorded: reports, message boxes and sent frames, in the order they happened.
struct RecordingRunState : services::RunDriver {
  RecordingRunState() {
    state.driver = this;
    state.elements = std::make_shared<transport::clsElement>();
    state.fehler = std::make_shared<clsFehler>();
    state.aktien = std::make_shared<colAktien>();
    state.tagesgeld = clsTagesgeld::Create();
    state.festgeld = clsTagesgeld::Create();
    state.callback = automation::MakeCallback([this](int16_t kind, const std::string& text) {
      reports.emplace_back(kind, text);
      events.push_back("callback:" + std::to_string(kind));
    });
    state.host.message_box = [this](const std::string& title, const std::string& text) {
      boxes.emplace_back(title, text);
      events.push_back("box:" + title);
    };
    // A fetch at its first step, unless a test starts another run.
    state.operations = {0, 2, 6, 0, 0, 0, 0};
    state.step = 1;
  }
  RecordingRunState(const RecordingRunState&) = delete;
  RecordingRunState& operator=(const RecordingRunState&) = delete;
  virtual ~RecordingRunState() = default;

  void SendFrame(const std::string& frame) override {
    sent.push_back(frame);
    events.push_back("send");
  }
  void RaiseNeueDatei(NeueDateiEvent&) override { ++neue_datei; }
  void RaiseDelete(const std::string& nummer) override { deleted.push_back(nummer); }
  void RaiseSkippedFile(int32_t nummer, const std::string& name) override {
    skipped.push_back(std::to_string(nummer) + " " + name);
  }
  void EndSession() override { state.session_done = true; }

  // What the dispatcher does before it calls a handler.
  void Receive(std::string_view frame) { transport::SplitElements(frame, *state.elements, true); }
  // The callback reports of one kind (0 log lines, 2 progress, 3 status), in order.
  std::vector<std::string> Lines(int kind = 0) const {
    std::vector<std::string> out;
    for (const auto& [k, t] : reports) {
      if (k == kind) out.push_back(t);
    }
    return out;
  }

  services::RunState state;
  std::vector<std::pair<int, std::string>> reports;
  std::vector<std::pair<std::string, std::string>> boxes;
  std::vector<std::string> sent;
  std::vector<std::string> events;
  int neue_datei = 0;
  std::vector<std::string> deleted;  // the number of each file the host is told to delete
  std::vector<std::string> skipped;  // number and name of each file without content
};

}  // namespace vexcomm::testing
