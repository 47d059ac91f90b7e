#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "support/temp_dir.h"

namespace vexcomm::test {

// A real tinyproxy on a free loopback port with a generated configuration, optionally requiring
// Basic credentials. Running when the constructor returns; stopped by the destructor. Throws
// std::runtime_error when the program is missing or does not come up: proxy tests must not
// pass silently on a machine without it.
class TinyProxy {
 public:
  struct Credentials {
    std::string user;
    std::string password;
  };

  explicit TinyProxy(std::optional<Credentials> credentials = std::nullopt);
  ~TinyProxy();
  TinyProxy(const TinyProxy&) = delete;
  TinyProxy& operator=(const TinyProxy&) = delete;

  uint16_t port() const { return port_; }
  // What tinyproxy has written so far, for failure messages.
  std::string Output() const;

 private:
  bool Start(const std::optional<Credentials>& credentials);
  void Stop();

  TempDir dir_;
  uint16_t port_ = 0;
  pid_t pid_ = -1;
  std::thread reader_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::string output_;
  bool ended_ = false;
};

}  // namespace vexcomm::test
