#include "integration/tls_fixture.h"

#include <fstream>

#include "config/persistent_values.h"
#include "platform/cp1252.h"

namespace vexcomm::test {

using namespace std::chrono_literals;

TlsComponentTest::TlsComponentTest() {
  dir.WriteFile("ini/MorvaZedi.ini", std::string("[Comm]\r\nIP=") + kHost + "\r\n");
  std::filesystem::create_directories(dir.path() / "data");
  host.today = [] { return std::chrono::sys_days(std::chrono::year(2026) / 12 / 6); };
}

TlsComponentTest::~TlsComponentTest() {
  // The component first: its socket must not outlive the loop it runs on.
  vc.reset();
  module.reset();
  server.reset();
}

void TlsComponentTest::Start(const std::string& scenario) {
  server.reset();
  {
    std::lock_guard lock(requests_mutex_);
    requests_seen_ = 0;
  }
  vexmsg::ServerOptions options;
  options.cert_file = pki.cert_file();
  options.key_file = pki.key_file();
  options.threads = 1;
  // Called after each request is recorded: lets another thread wait for one.
  options.log = [this](const std::string& line) {
    if (line.find(" <- ") == std::string::npos) return;
    {
      std::lock_guard lock(requests_mutex_);
      ++requests_seen_;
    }
    requests_changed_.notify_all();
  };
  server = std::make_unique<vexmsg::Server>(options, vexmsg::Scenario::Parse(scenario));
  if (!vc) MakeComponent();
}

void TlsComponentTest::SetIdentity(const Identity& identity, int32_t attempts) {
  config::PersistentRecord record;
  record.user = identity;
  record.attempts = attempts;
  ASSERT_TRUE(config::StorePersistentValues(dir.path() / "registry", record));
}

config::PersistentRecord TlsComponentTest::StoredValues() const {
  return config::LoadPersistentValues(dir.path() / "registry");
}

void TlsComponentTest::WriteIni(const std::string& ini_host) {
  std::ofstream(dir.path() / "ini" / "MorvaZedi.ini") << "[Comm]\r\nIP=" << ini_host << "\r\n";
}

void TlsComponentTest::MakeComponent() {
  ASSERT_NE(server, nullptr) << "start the server first";
  MakeComponent(DefaultSocketOptions());
}

SocketOptions TlsComponentTest::DefaultSocketOptions(const std::string& mapped_host) const {
  SocketOptions options;
  options.ca_file = pki.ca_file().string();
  options.connect_to_host = mapped_host;
  options.connect_to_port = 443;
  options.connect_to_address = "127.0.0.1";
  options.connect_to_address_port = server ? server->port() : 0;
  // A safety net for a run that would wait forever, not a measure of anything.
  options.idle_timeout = 60s;
  return options;
}

void TlsComponentTest::MakeComponent(const SocketOptions& options) {
  vc.reset();
  module.reset();
  HostServices services = host;
  services.message_box = [this](const std::string& title, const std::string& text) {
    boxes.emplace_back(title, text);
  };
  const std::string root = dir.dir();
  services.text_setting = [root](int n) { return root + (n == 3 ? "ini/" : "data/"); };
  services.registry_dir = dir.path() / "registry";
  module = std::make_unique<Module>(services);
  vc = VexComm::Create(*module);
  vc->SetSocket(module->CreateSocket(options));
  vc->SetCallback(automation::MakeCallback(
      [this](int16_t kind, const std::string& text) { reports.emplace_back(kind, text); }));
  vc->OnNeueDatei([this](const NeueDateiEvent& e) { files.push_back(e); });
  vc->OnDelete([this](const automation::VariantArray& a) { deletes.push_back(a); });
  vc->OnNochAufServer([this](int32_t n) { noch_auf_server.push_back(n); });
}

int32_t TlsComponentTest::Run(int32_t modus) {
  vc->SetModus(static_cast<vexCommModus>(modus));
  EXPECT_FALSE(vc->Send());
  return vc->Fehler()->Code;
}

std::vector<std::string> TlsComponentTest::WireRequests() const {
  std::vector<std::string> wire;
  for (const auto& request : server->RequestLog()) wire.push_back(request.wire);
  return wire;
}

std::vector<std::string> TlsComponentTest::Reports(int kind) const {
  std::vector<std::string> out;
  for (const auto& [k, text] : reports) {
    if (k == kind) out.push_back(text);
  }
  return out;
}

void TlsComponentTest::ClearRecords() {
  boxes.clear();
  reports.clear();
  files.clear();
  deletes.clear();
  noch_auf_server.clear();
}

bool TlsComponentTest::WaitForServerRequests(std::size_t count, std::chrono::seconds limit) {
  std::unique_lock lock(requests_mutex_);
  return requests_changed_.wait_for(lock, limit, [&] { return requests_seen_ >= count; });
}

std::string Wire(const std::string& utf8) {
  return platform::Utf8ToCp1252(utf8);
}

}  // namespace vexcomm::test
