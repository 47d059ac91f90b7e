#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

extern char** environ;

namespace vexcomm::test {

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::map<std::string, std::string>& env) {
  std::map<std::string, std::string> merged;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    const auto eq = entry.find('=');
    if (eq != std::string::npos) merged[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  for (const auto& [key, value] : env) {
    if (value.empty()) {
      merged.erase(key);
    } else {
      merged[key] = value;
    }
  }
  // Everything the child needs is made before fork: after it only exec may run.
  std::vector<std::string> env_text, argv_text{program};
  for (const auto& [key, value] : merged) env_text.push_back(key + "=" + value);
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> envp, argv;
  for (auto& e : env_text) envp.push_back(e.data());
  for (auto& a : argv_text) argv.push_back(a.data());
  envp.push_back(nullptr);
  argv.push_back(nullptr);

  int out_pipe[2];
  int err_pipe[2];
  if (::pipe2(out_pipe, O_CLOEXEC) != 0 || ::pipe2(err_pipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    const int null_in = ::open("/dev/null", O_RDONLY);
    ::dup2(null_in, STDIN_FILENO);
    ::dup2(out_pipe[1], STDOUT_FILENO);
    ::dup2(err_pipe[1], STDERR_FILENO);
    // No terminal: a password prompt must not find one.
    ::setsid();
    // The test runner may block signals; the child starts with none blocked.
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  out_fd_ = out_pipe[0];
  err_fd_ = err_pipe[0];
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  if (out_fd_ >= 0) ::close(out_fd_);
  if (err_fd_ >= 0) ::close(err_fd_);
}

bool ChildProcess::ReadSome(Clock::time_point deadline) {
  pollfd fds[2];
  nfds_t count = 0;
  for (int fd : {out_fd_, err_fd_}) {
    if (fd >= 0) fds[count++] = pollfd{fd, POLLIN, 0};
  }
  if (count == 0) return true;
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return false;
  const int ready = ::poll(fds, count, static_cast<int>(left));
  if (ready < 0 && errno == EINTR) return true;
  if (ready <= 0) return false;
  for (nfds_t i = 0; i < count; ++i) {
    if (fds[i].revents == 0) continue;
    char buffer[65536];
    const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
    const bool is_out = fds[i].fd == out_fd_;
    if (n > 0) {
      (is_out ? out_ : err_).append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      ::close(fds[i].fd);
      (is_out ? out_fd_ : err_fd_) = -1;
    }
  }
  return true;
}

bool ChildProcess::WaitForLine(const std::function<bool(const std::string&)>& match,
                               std::chrono::milliseconds timeout, bool standard_error) {
  const auto deadline = Clock::now() + timeout;
  const std::string& text = standard_error ? err_ : out_;
  std::size_t& seen = standard_error ? error_lines_seen_ : lines_seen_;
  const int& fd = standard_error ? err_fd_ : out_fd_;
  for (;;) {
    for (auto end = text.find('\n', seen); end != std::string::npos; end = text.find('\n', seen)) {
      const std::string line = text.substr(seen, end - seen);
      seen = end + 1;
      if (match(line)) return true;
    }
    if (fd < 0 || !ReadSome(deadline)) return false;
  }
}

void ChildProcess::Signal(int signal_number) {
  if (pid_ > 0) ::kill(pid_, signal_number);
}

int ChildProcess::Finish(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (out_fd_ >= 0 || err_fd_ >= 0) {
    if (!ReadSome(deadline)) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
      pid_ = -1;
      return -1;
    }
  }
  int status = 0;
  ::waitpid(pid_, &status, 0);
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace vexcomm::test
