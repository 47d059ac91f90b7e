#pragma once

#include <optional>
#include <string>

namespace vexcomm::test {

// Sets (or, with nullopt, removes) an environment variable and restores the old state at the
// end of the scope. Not thread-safe, as the environment is not.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, std::optional<std::string> value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

}  // namespace vexcomm::test
