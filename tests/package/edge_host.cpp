// A host where hosts meet the component, built outside the tree against the installed package
// (examples/check_package.sh builds it with ASan, and with an operator new of its own): two
// objects of one module, a file handler that fails, and each run's outcome.
//
//   edge_host CA_FILE HOST:PORT:ADDRESS:PORT
#include <cstdlib>
#include <iostream>
#include <new>
#include <stdexcept>
#include <string>

#include <vexcomm/vexcomm.h>

#include "connect_to.h"

#ifdef OWN_OPERATOR_NEW
// As counting and debugging allocators do, each block carries a header: a block the library
// frees must have come from here, or it is freed at the wrong address.
void* operator new(std::size_t size) {
  void* block = std::malloc(size + 16);
  if (block == nullptr) throw std::bad_alloc();
  return static_cast<char*>(block) + 16;
}
void operator delete(void* p) noexcept {
  if (p != nullptr) std::free(static_cast<char*>(p) - 16);
}
void operator delete(void* p, std::size_t) noexcept {
  operator delete(p);
}
#endif

int main(int argc, char** argv) {
  vexcomm::SocketOptions options;
  if (argc != 3 || !ParseConnectTo(argv[2], options)) return 2;
  options.ca_file = argv[1];
  vexcomm::Module& module = vexcomm::Module::Process();
  auto first = vexcomm::VexComm::Create(module);
  auto second = vexcomm::VexComm::Create(module);
  second->SetSocket(module.CreateSocket(options));
  int first_heard = 0;
  first->OnNeueDatei([&](const vexcomm::NeueDateiEvent&) { ++first_heard; });
  bool disk_full = true;
  second->OnNeueDatei([&](const vexcomm::NeueDateiEvent& e) {
    if (disk_full) throw std::runtime_error("disk full");
    std::cout << "file " << e.DateiNummer << " " << e.DateiName << " (" << e.DateiOctets().size()
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
  return second->Outcome()->ok() ? 0 : 1;
}
