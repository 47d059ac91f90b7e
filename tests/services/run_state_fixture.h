#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <vexcomm/quotes.h>

#include "services/run_state.h"
#include "transport/frame.h"

namespace vexcomm::testing {

// A run state with recording hooks, for driving handlers without a socket.
struct RecordingRunState {
  RecordingRunState() {
    state.elements = std::make_shared<transport::clsElement>();
    state.fehler = std::make_shared<clsFehler>();
    state.aktien = std::make_shared<colAktien>();
    state.callback = automation::MakeCallback(
        [this](int16_t kind, const std::string& text) { reports.emplace_back(kind, text); });
    state.host.message_box = [this](const std::string& title, const std::string& text) {
      boxes.emplace_back(title, text);
    };
    state.send_frame = [this] { sent.push_back(state.outgoing_frame); };
    state.raise_neue_datei = [this] { ++neue_datei; };
    state.raise_delete = [this] { ++deletes; };
    state.operations = {0, 2, 6, 0, 0, 0, 0};
    state.step = 1;
  }
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
  int neue_datei = 0;
  int deletes = 0;
};

}  // namespace vexcomm::testing
