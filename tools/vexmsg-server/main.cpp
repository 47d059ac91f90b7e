// vexmsg-server: the reference server of the VEXMSG frame protocol, for tests, the demo and the
// benchmarks. Runs until SIGINT or SIGTERM.
#include <signal.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

#include "vexmsg-server/lib/server.h"

namespace {

constexpr const char* kUsage = R"(Usage: vexmsg-server --cert FILE --key FILE [options]

A TLS server that answers VEXMSG requests (AKNEW, AKGET, ...) from a JSON
scenario, with transport faults on demand. The scenario format: README.md in
share/doc/vexmsg-server/ of the installation's prefix (see vexmsg-server(1)).

Options:
  --listen ADDR:PORT  address and port to listen on (default 127.0.0.1:8443;
                      port 0 picks a free one; IPv6 as [::1]:8443)
  --cert FILE         PEM file with the server certificate (its chain after it)
  --key FILE          PEM file with the certificate's private key
  --scenario FILE     JSON scenario (default: no installations; every AKNEW is
                      refused)
  --replay TRACE      answer with the replies recorded by `vexcomm --trace`, in
                      order; a request that differs from the recorded one is
                      logged as a divergence, and the exit status is 3 when
                      there was any or a recorded request was never asked for
  --threads N         worker threads (default 2)
  --print-port        print the bound port on standard output, alone on a line
  --quiet             no connection and request lines on standard error
  --help              this text

Example:
  vexmsg-server --cert server.pem --key server.key \
      --scenario sample-scenario.json --listen 127.0.0.1:0 --print-port
)";

bool ParseListen(std::string_view text, std::string& address, std::uint16_t& port) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) return false;
  std::string_view host = text.substr(0, colon);
  const std::string_view digits = text.substr(colon + 1);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  unsigned value = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (host.empty() || ec != std::errc() || end != digits.data() + digits.size() || value > 65535) {
    return false;
  }
  address = std::string(host);
  port = static_cast<std::uint16_t>(value);
  return true;
}

int Fail(const std::string& message) {
  std::cerr << "vexmsg-server: " << message << "\n(vexmsg-server --help shows the options)\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  vexmsg::ServerOptions options;
  options.port = 8443;
  std::optional<std::string> scenario_file;
  std::optional<std::string> replay_file;
  bool print_port = false;
  bool quiet = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    auto value = [&]() -> std::optional<std::string> {
      if (i + 1 >= argc) return std::nullopt;
      return std::string(argv[++i]);
    };
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (arg == "--print-port") {
      print_port = true;
    } else if (arg == "--quiet") {
      quiet = true;
    } else if (arg == "--listen" || arg == "--cert" || arg == "--key" || arg == "--scenario" ||
               arg == "--threads" || arg == "--replay") {
      const auto v = value();
      if (!v) return Fail(std::string(arg) + " needs a value");
      if (arg == "--listen" && !ParseListen(*v, options.address, options.port)) {
        return Fail("--listen wants ADDR:PORT, not " + *v);
      }
      if (arg == "--cert") options.cert_file = *v;
      if (arg == "--key") options.key_file = *v;
      if (arg == "--scenario") scenario_file = *v;
      if (arg == "--replay") replay_file = *v;
      if (arg == "--threads") {
        const auto [end, ec] = std::from_chars(v->data(), v->data() + v->size(), options.threads);
        if (ec != std::errc() || end != v->data() + v->size() || options.threads < 1) {
          return Fail("--threads wants a number above 0");
        }
      }
    } else {
      return Fail("unknown argument " + std::string(arg));
    }
  }
  if (options.cert_file.empty() || options.key_file.empty()) {
    return Fail("--cert and --key are required");
  }
  if (!quiet) options.log = [](const std::string& line) { std::cerr << line << '\n'; };

  // Blocked before the server's threads start, so that only sigwait below receives them.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  try {
    vexmsg::Scenario scenario =
        scenario_file ? vexmsg::Scenario::Load(*scenario_file) : vexmsg::Scenario{};
    if (replay_file) options.replay = vexmsg::Replay::Load(*replay_file);
    vexmsg::Server server(options, std::move(scenario));
    if (print_port) {
      std::cout << server.port() << std::endl;
    }
    if (!quiet) {
      std::cerr << "vexmsg-server listening on " << options.address << ":" << server.port() << '\n';
    }
    int signal_number = 0;
    sigwait(&stop_signals, &signal_number);
    if (!quiet) std::cerr << "vexmsg-server stopping (" << strsignal(signal_number) << ")\n";
    if (options.replay) {
      // A replay that went another way is a finding: said even with --quiet.
      const auto divergences = options.replay->Divergences();
      for (const auto& d : divergences)
        std::cerr << "vexmsg-server: replay divergence: " << d << '\n';
      const std::size_t remaining = options.replay->Remaining();
      if (remaining > 0) {
        std::cerr << "vexmsg-server: replay: " << remaining
                  << " recorded requests were never asked for\n";
      }
      if (!divergences.empty() || remaining > 0) return 3;
    }
  } catch (const std::exception& e) {
    std::cerr << "vexmsg-server: " << e.what() << '\n';
    return 1;
  }
  return 0;
}
