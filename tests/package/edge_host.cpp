// A host where hosts meet the component, built outside the tree against the installed package
// (examples/check_package.sh builds it with an operator new of its own, and with ASan): two
// objects of one module, a file handler that fails, and each run's outcome.
//
//   edge_host [--ca-file FILE] [--connect-to HOST:PORT:ADDRESS:PORT]
#include <cstdlib>
#include <iostream>
#include <stdexcept>
#include <string>

#include <vexcomm/identity.h>
#include <vexcomm/vexcomm.h>

#include "connect_to.h"

int main(int argc, char** argv) {
  vexcomm::SocketOptions options;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--ca-file") {
      options.ca_file = argv[i + 1];
    } else if (option != "--connect-to" || !ParseConnectTo(argv[i + 1], options)) {
      std::cerr << "usage: edge_host [--ca-file FILE] [--connect-to H:P:A:P]\n";
      return 2;
    }
  }
  vexcomm::Module& module = vexcomm::Module::Process();
  auto first = vexcomm::VexComm::Create(module);
  auto second = vexcomm::VexComm::Create(module);
  second->SetSocket(module.CreateSocket(options));
  int first_heard = 0;
  first->OnNeueDatei([&](const vexcomm::NeueDateiEvent&) { ++first_heard; });
  bool disk_full = true;
  second->OnNeueDatei([&](const vexcomm::NeueDateiEvent& e) {
    if (disk_full) throw std::runtime_error("disk full");
    std::cout << "file " << e.DateiNummer << " " << e.DateiName << " (" << e.Datei.size()
              << " octets)\n";
  });
  auto report = [&](const char* run) {
    const vexcomm::RunOutcome& outcome = *second->Outcome();
    const auto fehler = second->Fehler();  // Text is kept from run to run: shown with a code
    std::cout << run << ": " << outcome.name() << " [" << outcome.detail << "] Fehler.Code "
              << fehler->Code << (fehler->Code != 0 ? " " + fehler->Text : std::string()) << "\n";
  };
  second->SetModus(vexcomm::VexCommGetNew);
  second->Send();
  report("failing handler");
  disk_full = false;
  second->Send();
  report("saving handler");
  std::cout << "first object heard " << first_heard << "\n";
  std::cout << "DateiNr " << vexcomm::ReadIdentity(std::getenv("VEXCOMM_REGISTRY_DIR")).DateiNr
            << "\n";
  return second->Outcome()->ok() ? 0 : 1;
}
