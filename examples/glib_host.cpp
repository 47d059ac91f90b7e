// A host with a GLib main loop, as a graphical host has one: the component runs the loop inside
// Send, so the host's timers and user interface keep going while the run waits. A timer counts
// ticks during the run, and a "Cancel" from another timer of the loop ends it.
//
//   glib_host [--ca-file FILE] [--connect-to HOST:PORT:ADDRESS:PORT] [--cancel-after-ms N]
#include <glib.h>

#include <cstdlib>
#include <iostream>
#include <string>

#include <vexcomm/vexcomm.h>

#include "connect_to.h"

int main(int argc, char** argv) {
  vexcomm::SocketOptions options;
  guint cancel_after_ms = 0;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--ca-file") {
      options.ca_file = argv[i + 1];
    } else if (option == "--cancel-after-ms") {
      cancel_after_ms = static_cast<guint>(std::atoi(argv[i + 1]));
    } else if (option != "--connect-to" || !ParseConnectTo(argv[i + 1], options)) {
      std::cerr << "usage: glib_host [--ca-file FILE] [--connect-to H:P:A:P] "
                   "[--cancel-after-ms N]\n";
      return 2;
    }
  }

  // The five lines a GLib host needs: its loop's pending events run inside Send.
  vexcomm::HostServices host;
  host.process_host_events = [] {
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
  };
  vexcomm::Module module(host);

  auto vc = vexcomm::VexComm::Create(module);
  vc->SetSocket(module.CreateSocket(options));
  vc->OnNeueDatei([](const vexcomm::NeueDateiEvent& e) {
    std::cout << "file " << e.DateiNummer << " " << e.DateiName << "\n";
  });

  int ticks = 0;
  g_timeout_add(
      10,
      [](gpointer data) -> gboolean {
        ++*static_cast<int*>(data);
        return G_SOURCE_CONTINUE;
      },
      &ticks);
  if (cancel_after_ms > 0) {
    g_timeout_add(
        cancel_after_ms,
        [](gpointer data) -> gboolean {
          static_cast<vexcomm::VexComm*>(data)->CancelSend();  // the user's Cancel button
          return G_SOURCE_REMOVE;
        },
        vc.get());
  }

  vc->SetModus(vexcomm::VexCommGetNew);
  vc->Send();
  std::cout << "timer ticks during Send: " << ticks << "\n";
  const auto fehler = vc->Fehler();
  std::cout << "Fehler.Code " << fehler->Code << " " << fehler->Text << "\n";
  return fehler->Code == vexcomm::vcerrNoError ? 0 : 1;
}
