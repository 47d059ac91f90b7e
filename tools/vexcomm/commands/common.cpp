#include "commands/common.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

#include "messages.h"
#include "settings.h"
#include "signal_cancel.h"
#include "stocks_csv.h"

namespace vexcomm::cli {
namespace {

namespace fs = std::filesystem;

std::string WithSlash(std::string dir) {
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

std::string ExistingFolder(const std::optional<std::string>& given, int setting,
                           std::string_view option) {
  if (!given) return DefaultHostServices().text_setting(setting);
  std::error_code ec;
  if (!fs::is_directory(*given, ec)) {
    throw UsageError(Fill(Tr("%1: the folder %2 does not exist"), {option, *given}));
  }
  return WithSlash(*given);
}

// Reads the password on the terminal without echo; the terminal is restored on Ctrl-C too.
std::string PromptPassword(const std::string& user) {
  const int fd = ::open("/dev/tty", O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    throw UsageError(
        Tr("--proxy-user needs the password in VEXCOMM_PROXY_PASSWORD (no terminal to ask on)"));
  }
  termios saved{};
  const bool is_tty = ::tcgetattr(fd, &saved) == 0;
  const std::string prompt = Fill(Tr("Proxy password for %1: "), {user});
  [[maybe_unused]] auto w = ::write(fd, prompt.data(), prompt.size());
  SignalCancel* signals = CurrentSignalCancel();
  if (is_tty) {
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(fd, TCSAFLUSH, &quiet);
    if (signals) {
      signals->SetCancel([fd, saved] {
        ::tcsetattr(fd, TCSAFLUSH, &saved);
        std::_Exit(130);
      });
    }
  }
  std::string password;
  char c = 0;
  while (::read(fd, &c, 1) == 1 && c != '\n') password += c;
  if (is_tty) {
    ::tcsetattr(fd, TCSAFLUSH, &saved);
    if (signals) signals->SetCancel({});
  }
  w = ::write(fd, "\n", 1);
  ::close(fd);
  return password;
}

}  // namespace

Folders ResolveFolders(const GlobalOptions& global) {
  Folders folders;
  folders.ini = ExistingFolder(global.ini_dir, 3, "--ini-dir");
  folders.data = ExistingFolder(global.data_dir, 5, "--data-dir");
  if (global.registry_dir) {
    folders.registry = *global.registry_dir;
    std::error_code ec;
    try {
      CreatePrivateFolders(folders.registry);
    } catch (const std::system_error&) {
      // Told below.
    }
    if (!fs::is_directory(folders.registry, ec)) {
      throw UsageError(Fill(Tr("--registry-dir: cannot use %1"), {folders.registry.string()}));
    }
  } else {
    folders.registry = DefaultHostServices().registry_dir;
  }
  return folders;
}

SocketOptions ResolveSocketOptions(const GlobalOptions& global, const std::string& server_host) {
  SocketOptions options;
  if (global.ca_file) {
    ReadInputFile(*global.ca_file, N_("cannot read CA file %1: %2"));
    options.ca_file = *global.ca_file;
  }
  if (global.connect_to) {
    const ConnectTo c = ParseConnectTo(*global.connect_to);
    options.connect_to_host = c.host;
    options.connect_to_port = static_cast<uint16_t>(c.port);
    options.connect_to_address = c.address;
    options.connect_to_address_port = static_cast<uint16_t>(c.address_port);
  }
  // As curl: no_proxy names the hosts reached directly, whatever set the proxy.
  const bool direct = global.no_proxy && NoProxyMatches(*global.no_proxy, server_host);
  if (global.proxy && !direct) {
    // Credentials in the URL are allowed from the environment only, and checked there.
    const ProxyAddress proxy = ParseProxy(*global.proxy, "--proxy", true);
    options.proxy_host = proxy.host;
    options.proxy_port = static_cast<uint16_t>(proxy.port);
  }
  if (global.proxy_user && !direct) {
    if (!global.proxy) throw UsageError(Tr("--proxy-user needs --proxy"));
    options.proxy_user = *global.proxy_user;
    const char* password = std::getenv("VEXCOMM_PROXY_PASSWORD");
    options.proxy_password = password                ? std::string(password)
                             : global.proxy_password ? *global.proxy_password
                                                     : PromptPassword(*global.proxy_user);
  }
  if (global.connect_timeout) {
    options.connect_timeout =
        std::chrono::milliseconds(ParseSeconds(*global.connect_timeout, "--connect-timeout"));
  }
  if (global.idle_timeout) {
    options.idle_timeout =
        std::chrono::milliseconds(ParseSeconds(*global.idle_timeout, "--idle-timeout"));
  }
  if (global.speed_limit) options.speed_limit = ParseSpeed(*global.speed_limit, "--speed-limit");
  if (global.speed_time) {
    options.speed_time =
        std::chrono::milliseconds(ParseSeconds(*global.speed_time, "--speed-time"));
  }
  if (global.pin_sha256) options.pinned_public_keys = ParsePins(*global.pin_sha256, "--pin-sha256");
  return options;
}

InstallationLock LockInstallation(const GlobalOptions& global, const Folders& folders,
                                  Output& output) {
  auto lock = InstallationLock::Acquire(folders.registry, InstallationLock::Wait::kNo);
  if (lock) return std::move(*lock);
  if (global.no_wait) throw std::runtime_error(Tr("another vexcomm run holds this installation"));
  output.Note(Tr("another vexcomm run holds this installation; waiting…"));
  return std::move(*InstallationLock::Acquire(folders.registry, InstallationLock::Wait::kYes));
}

QuoteDbContext DbContext(const Folders& folders, Output& output, bool quiet) {
  QuoteDbContext context;
  context.data_dir = folders.data;
  context.ini_dir = folders.ini;
  context.message_box = [&output, quiet](const std::string& title, const std::string& text) {
    if (quiet) {
      output.KeepMessageBox(text);
    } else {
      output.MessageBox(title, text);
    }
  };
  return context;
}

std::string DbAdvice(const std::string& cause) {
  if (cause.find("locked") != std::string::npos || cause.find("busy") != std::string::npos) {
    return Tr("; another program is using it: try again when it has ended");
  }
  return Tr(
      "; restore it from a backup, or move it aside and the next quote run starts a new "
      "one from the template");
}

int DbUnreadable(const Folders& folders, Output& output) {
  const std::string cause = output.LastMessageBoxText();
  return output.Fail(
      kExitLocalStore, "local",
      Fill(Tr("the quote database %1 cannot be read"), {folders.data + "Kurse.dat"}) +
          (cause.empty() ? std::string() : ": " + cause) + DbAdvice(cause));
}

}  // namespace vexcomm::cli
