#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include <vexcomm/file_replace.h>

namespace vexcomm {

namespace {

constexpr std::string_view kUnique = "XXXXXX";

}  // namespace

AtomicFile::AtomicFile(std::filesystem::path path, Placement placement,
                       std::string_view temp_suffix, unsigned mode)
    : path_(std::move(path)), placement_(placement) {
  std::string temp = path_.string();
  temp.append(temp_suffix);
  if (temp_suffix.ends_with(kUnique)) {
    fd_ = ::mkostemp(temp.data(), O_CLOEXEC);  // 0600
    if (fd_ >= 0 && mode != 0600 && ::fchmod(fd_, static_cast<mode_t>(mode)) != 0) error_ = errno;
  } else {
    fd_ = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, static_cast<mode_t>(mode));
  }
  temp_ = std::move(temp);
  if (fd_ < 0) {
    error_ = errno;
    return;
  }
  created_ = true;
}

AtomicFile::~AtomicFile() {
  if (fd_ >= 0) ::close(fd_);
  if (created_) ::unlink(temp_.c_str());
}

bool AtomicFile::Write(std::string_view data) {
  while (error_ == 0 && !data.empty()) {
    const ssize_t n = ::write(fd_, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error_ = n == 0 ? EIO : errno;
      break;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return error_ == 0;
}

int AtomicFile::Commit() {
  if (error_ == 0 && ::fsync(fd_) != 0) error_ = errno;
  const int closed = ::close(fd_);
  fd_ = -1;
  if (error_ == 0 && closed != 0) error_ = errno;
  if (error_ == 0) {
    if (placement_ == Placement::kReplace) {
      if (::rename(temp_.c_str(), path_.c_str()) == 0) {
        created_ = false;
      } else {
        error_ = errno;
      }
    } else if (::link(temp_.c_str(), path_.c_str()) != 0) {
      error_ = errno;
    }
  }
  // Once only: after the unlink another writer may be given the same temporary name.
  if (std::exchange(created_, false)) ::unlink(temp_.c_str());
  if (error_ != 0) return error_;
  // The new name must reach the disk too.
  auto folder = path_.parent_path();
  if (folder.empty()) folder = ".";
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return 0;
}

}  // namespace vexcomm
