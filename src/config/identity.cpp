#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>
#include <utility>

#include <vexcomm/identity.h>

#include "config/persistent_values.h"
#include "platform/private_folders.h"

namespace vexcomm {

Identity ReadIdentity(const std::filesystem::path& registry_dir) {
  std::string notice;
  const auto loaded = config::ReadPersistentValues(
      registry_dir, [&notice](const std::string& text) { notice = text; });
  if (loaded.unreadable || loaded.damaged) {
    throw std::runtime_error(
        notice.empty() ? "cannot read the registry store in " + registry_dir.string() : notice);
  }
  return loaded.record.user;
}

void WriteIdentity(const std::filesystem::path& registry_dir, const Identity& identity) {
  std::string failure;
  if (!config::StoreIdentity(registry_dir, identity, &failure)) {
    throw std::runtime_error("cannot write the registry store " + failure);
  }
}

std::optional<InstallationLock> InstallationLock::Acquire(const std::filesystem::path& registry_dir,
                                                          Wait wait) {
  platform::CreatePrivateFolders(registry_dir);
  const auto path = registry_dir / "installation.lock";
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) throw std::system_error(errno, std::generic_category(), path.string());
  InstallationLock lock(fd);
  const int operation = wait == Wait::kYes ? LOCK_EX : LOCK_EX | LOCK_NB;
  while (::flock(fd, operation) != 0) {
    if (errno == EINTR) continue;
    if (errno == EWOULDBLOCK) return std::nullopt;
    throw std::system_error(errno, std::generic_category(), path.string());
  }
  return lock;
}

InstallationLock::InstallationLock(InstallationLock&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)) {}

InstallationLock& InstallationLock::operator=(InstallationLock&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

InstallationLock::~InstallationLock() {
  // Closing the last descriptor of the open file releases the flock.
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace vexcomm
