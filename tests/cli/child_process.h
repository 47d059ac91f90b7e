#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace vexcomm::test {

// A program run as a child with its standard output and error read through pipes. Every wait
// has a deadline; a child still running at the end is killed, so no test can hang on it.
class ChildProcess {
 public:
  using Clock = std::chrono::steady_clock;

  // `env` entries replace or add to this process's environment; an empty value removes one.
  ChildProcess(const std::string& program, const std::vector<std::string>& args,
               const std::map<std::string, std::string>& env = {});
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Reads until a complete line of standard output (or error) satisfies `match`; false at the
  // deadline or when that output ends first.
  bool WaitForLine(const std::function<bool(const std::string&)>& match,
                   std::chrono::milliseconds timeout, bool standard_error = false);
  void Signal(int signal_number);
  // Reads both outputs to their end and reaps the child; -1 when the deadline passed (the child
  // is killed then) or it died of a signal.
  int Finish(std::chrono::milliseconds timeout);

  const std::string& out() const { return out_; }
  const std::string& err() const { return err_; }

 private:
  // One round of reading; false when the deadline passed.
  bool ReadSome(Clock::time_point deadline);

  pid_t pid_ = -1;
  int out_fd_ = -1;
  int err_fd_ = -1;
  std::string out_;
  std::string err_;
  std::size_t lines_seen_ = 0;        // octets of out_ already offered to WaitForLine
  std::size_t error_lines_seen_ = 0;  // the same of err_
};

}  // namespace vexcomm::test
