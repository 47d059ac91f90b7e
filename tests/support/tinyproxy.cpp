#include "support/tinyproxy.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <stdexcept>

#include "support/loop_helpers.h"

extern char** environ;

namespace vexcomm::test {
namespace {

constexpr auto kStartDeadline = std::chrono::seconds(20);
constexpr int kAttempts = 5;

}  // namespace

TinyProxy::TinyProxy(std::optional<Credentials> credentials) {
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    if (Start(credentials)) return;
  }
  const std::string output = Output();
  Stop();
  throw std::runtime_error("tinyproxy did not start:\n" + output);
}

TinyProxy::~TinyProxy() {
  Stop();
}

std::string TinyProxy::Output() const {
  std::lock_guard lock(mutex_);
  return output_;
}

bool TinyProxy::Start(const std::optional<Credentials>& credentials) {
  Stop();
  // A port the kernel just handed out; tinyproxy binds it a moment later, and a lost race is
  // retried with another port.
  port_ = ClosedLoopbackPort();
  const auto config = dir_.path() / "tinyproxy.conf";
  {
    std::ofstream out(config, std::ios::trunc);
    out << "Port " << port_ << "\nListen 127.0.0.1\nTimeout 30\nMaxClients 50\n"
        << "Allow 127.0.0.1\nLogLevel Info\nDisableViaHeader Yes\n";
    // No ConnectPort lines: CONNECT is allowed to any port, the test server's included.
    if (credentials)
      out << "BasicAuth " << credentials->user << " " << credentials->password << "\n";
    if (!out.flush()) throw std::runtime_error("cannot write " + config.string());
  }

  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDERR_FILENO);
  std::string program_text = "tinyproxy";  // found on the PATH
  std::string config_text = config.string();
  std::string foreground = "-d";
  std::string config_flag = "-c";
  char* argv[] = {program_text.data(), foreground.data(), config_flag.data(), config_text.data(),
                  nullptr};
  const int spawned = ::posix_spawnp(&pid_, program_text.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipe_fds[1]);
  if (spawned != 0) {
    ::close(pipe_fds[0]);
    pid_ = -1;
    throw std::runtime_error(
        "tinyproxy cannot be started (apt-get install tinyproxy): the proxy tests need it");
  }

  {
    std::lock_guard lock(mutex_);
    output_.clear();
    ended_ = false;
  }
  // Drains the log so tinyproxy never blocks on a full pipe, and tells when it listens.
  reader_ = std::thread([this, fd = pipe_fds[0]] {
    char buffer[4096];
    for (;;) {
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      std::lock_guard lock(mutex_);
      output_.append(buffer, static_cast<std::size_t>(n));
      changed_.notify_all();
    }
    ::close(fd);
    std::lock_guard lock(mutex_);
    ended_ = true;
    changed_.notify_all();
  });

  std::unique_lock lock(mutex_);
  const bool settled = changed_.wait_for(lock, kStartDeadline, [this] {
    return ended_ || output_.find("Accepting connections") != std::string::npos;
  });
  const bool listening = settled && !ended_;
  lock.unlock();
  if (!listening) Stop();
  return listening;
}

void TinyProxy::Stop() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
  }
  if (reader_.joinable()) reader_.join();
}

}  // namespace vexcomm::test
