#include "component/component_fixture.h"

#include <chrono>
#include <fstream>

#include "config/persistent_values.h"
#include "transport/frame.h"

namespace vexcomm::testing {

void ComponentTest::SetUp() {
  std::filesystem::create_directories(dir / "ini");
  std::filesystem::create_directories(dir / "data");
  MakeModule();
}

HostServices ComponentTest::Host() {
  HostServices host;
  host.message_box = [this](const std::string& title, const std::string& text) {
    boxes.emplace_back(title, text);
  };
  host.text_setting = [this](int n) { return (dir / (n == 3 ? "ini" : "data")).string() + "/"; };
  host.today = [] { return std::chrono::sys_days(std::chrono::year(2026) / 12 / 6); };
  host.registry_dir = dir / "registry";
  return host;
}

void ComponentTest::MakeModule() {
  module = std::make_unique<Module>(Host());
  vc = VexComm::Create(*module);
  sock = std::make_shared<ScriptedSocket>(detail::ModuleAccess::State(*module)->loop);
  vc->SetSocket(sock);
  vc->SetCallback(automation::MakeCallback(
      [this](int16_t kind, const std::string& text) { reports.emplace_back(kind, text); }));
}

void ComponentTest::Restart() {
  vc.reset();
  sock.reset();
  module.reset();
  MakeModule();
}

void ComponentTest::WriteIni(const std::string& content) {
  std::ofstream(dir / "ini" / "MorvaZedi.ini") << content;
}

void ComponentTest::SaveRecord() {
  ASSERT_TRUE(config::StorePersistentValues(dir / "registry", {run().user, run().attempts}));
}

std::vector<std::string> ComponentTest::Reports(int kind) const {
  std::vector<std::string> out;
  for (const auto& [k, text] : reports) {
    if (k == kind) out.push_back(text);
  }
  return out;
}

void ComponentTest::ServeFiles(std::vector<std::string> frames, int first_number,
                               ScriptedSocket* target) {
  (target ? target : sock.get())->on_send = [frames = std::move(frames), first_number](
                                                ScriptedSocket& s, const std::string& request) {
    // Fields 4..7: BLZ, KundenNr, DateiNr, "5".
    transport::clsElement e;
    transport::SplitElements(request, e, true);
    int after = std::stoi(e.Item(6));
    int next = std::max(after + 1, first_number);
    int index = next - first_number;
    int waiting = static_cast<int>(frames.size()) - index;
    if (e.Item(3) == "AKNEW") {
      s.RaiseReceive("VEXMSG:2:AINEW:" + std::to_string(std::max(waiting, 0)) + ":MSGEND");
    } else if (index < static_cast<int>(frames.size())) {
      s.RaiseReceive(frames[static_cast<std::size_t>(index)]);
    }
  };
}

std::string FileFrame(int number, const std::string& name, const std::string& content,
                      const std::string& typ, const std::string& ref) {
  return "VEXMSG:2:AIGET:" + std::to_string(number) + ":" + name + ":" + typ +
         ":01.12.2026:31.12.2026:5:1:Titel " + name + ":www.example.test/" + name + ":" +
         transport::LengthPrefixed(content) + ":" + ref + ":MSGEND";
}

}  // namespace vexcomm::testing
