#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <vexcomm/build_config.h>
#include <vexcomm/vexcomm.h>

#include "component/cls_event.h"
#include "component/module_state.h"
#include "component/scripted_socket.h"
#include "support/temp_dir.h"

namespace vexcomm::testing {

// A module of its own with captured host services, a scripted socket and a recording callback.
class ComponentTest : public ::testing::Test {
 protected:
  void SetUp() override;

  // A fresh module over the same folders: what a restart of the host looks like.
  void Restart();
  // The host services of the fixture's module, for another module on the same installation.
  HostServices Host();
  void WriteIni(const std::string& content);
  // Stores run().user and run().attempts: a run reads them from the store when it starts.
  void SaveRecord();
  detail::ModuleState& state() { return *detail::ModuleAccess::State(*module); }
  services::RunState& run() { return detail::ModuleAccess::State(*module)->run; }
  // The callback reports of one kind, in order.
  std::vector<std::string> Reports(int kind) const;
  std::vector<std::string> LogLines() const { return Reports(0); }
  // Replies to AKNEW/AKGET from a numbered series of files after the request's DateiNr.
  // On `target`, or on the fixture's socket.
  void ServeFiles(std::vector<std::string> frames_by_number, int first_number,
                  ScriptedSocket* target = nullptr);

  test::TempDir tmp;
  std::filesystem::path dir = tmp.path();
  std::vector<std::pair<std::string, std::string>> boxes;
  std::vector<std::pair<int, std::string>> reports;
  std::unique_ptr<Module> module;
  std::shared_ptr<VexComm> vc;
  std::shared_ptr<ScriptedSocket> sock;

 private:
  void MakeModule();
};

// An AIGET reply frame for a file.
std::string FileFrame(int number, const std::string& name, const std::string& content,
                      const std::string& typ = "TXT", const std::string& ref = "0");

}  // namespace vexcomm::testing
