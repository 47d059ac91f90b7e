// A minimal host of the VexComm5 component: fetches the new messages of the installation and
// prints what arrives. The folders and the identity record come from the environment
// (VEXCOMM_INI_DIR, VEXCOMM_DATA_DIR, VEXCOMM_REGISTRY_DIR) as for any host.
//
//   fetch_messages [--ca-file FILE] [--connect-to HOST:PORT:ADDRESS:PORT]
#include <cstdlib>
#include <iostream>
#include <string>

#include <vexcomm/version.h>
#include <vexcomm/vexcomm.h>

#if !VEXCOMM_VERSION_AT_LEAST(5, 1, 13)
#error "this host needs VexComm5 5.1.13 or later (NeueDateiEvent::DateiOctets)"
#endif

#include "connect_to.h"

int main(int argc, char** argv) {
  vexcomm::SocketOptions options;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--ca-file") {
      options.ca_file = argv[i + 1];
    } else if (option != "--connect-to" || !ParseConnectTo(argv[i + 1], options)) {
      std::cerr << "usage: fetch_messages [--ca-file FILE] [--connect-to H:P:A:P]\n";
      return 2;
    }
  }

  vexcomm::Module& module = vexcomm::Module::Process();
  auto vc = vexcomm::VexComm::Create(module);
  vc->SetSocket(module.CreateSocket(options));
  vc->SetCallback(vexcomm::automation::MakeCallback([](int16_t kind, const std::string& text) {
    if (kind == vexcomm::kLogLine) std::cout << "log: " << text << "\n";
  }));
  vc->OnNeueDatei([](const vexcomm::NeueDateiEvent& e) {
    // The octets as the server sent them: what a host saves.
    std::cout << "file " << e.DateiNummer << " " << e.DateiName << " (" << e.DateiOctets().size()
              << " octets)\n";
  });
  vc->OnNochAufServer([](int32_t n) { std::cout << "still on the server: " << n << "\n"; });

  vc->SetModus(vexcomm::VexCommGetNew);
  vc->Send();  // returns when the run is over; the outcome is in Fehler
  const auto fehler = vc->Fehler();
  std::cout << "Fehler.Code " << fehler->Code << " " << fehler->Text << "\n";
  std::cout << "VexComm5 headers " << VEXCOMM_VERSION_STRING << ", library "
            << vexcomm::LoadedVersions().library << "\n";
  return fehler->Code == vexcomm::vcerrNoError || fehler->Code == vexcomm::vcerrSuccess ? 0 : 1;
}
