#include "received_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <stdexcept>
#include <system_error>

namespace vexcomm::cli {
namespace {

constexpr std::size_t kMaxNameOctets = 200;

// Length of the UTF-8 sequence that starts with `lead`, 0 for an octet that cannot start one.
std::size_t SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

// Reads one code point; an invalid sequence reads as one octet with value 0xFFFD.
char32_t NextCodePoint(std::string_view text, std::size_t& pos, std::size_t& length) {
  const auto lead = static_cast<unsigned char>(text[pos]);
  length = SequenceLength(lead);
  bool valid = length != 0 && pos + length <= text.size();
  char32_t cp = length == 1   ? lead
                : length == 2 ? lead & 0x1F
                : length == 3 ? lead & 0x0F
                              : lead & 0x07;
  for (std::size_t i = 1; valid && i < length; ++i) {
    const auto c = static_cast<unsigned char>(text[pos + i]);
    if ((c & 0xC0) != 0x80) valid = false;
    cp = (cp << 6) | (c & 0x3F);
  }
  if (!valid) {
    length = 1;
    cp = 0xFFFD;
  }
  pos += length;
  return cp;
}

bool IsUnsafe(char32_t cp) {
  return cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp <= 0x9F) || cp == '/' || cp == '\\' ||
         cp == 0xFFFD || cp == 0x2028 || cp == 0x2029;
}

// Read once: the only way to read the mask is to set it, for a moment, process-wide.
mode_t ProcessUmask() {
  static const mode_t mask = [] {
    const mode_t m = ::umask(0);
    ::umask(m);
    return m;
  }();
  return mask;
}

std::string Errno(const std::string& what, const std::filesystem::path& path) {
  return what + " " + path.string() + ": " + std::strerror(errno);
}

}  // namespace

std::string SafeFileName(int32_t number, std::string_view name) {
  std::string clean;
  for (std::size_t pos = 0; pos < name.size();) {
    const std::size_t start = pos;
    std::size_t length = 0;
    const char32_t cp = NextCodePoint(name, pos, length);
    if (IsUnsafe(cp)) {
      clean += '_';
    } else if (cp == '.' && !clean.empty() && clean.back() == '.') {
      continue;  // ".." never survives: a run of dots becomes one
    } else {
      clean.append(name.substr(start, length));
    }
  }
  const auto first = clean.find_first_not_of(". \t");
  clean = first == std::string::npos ? std::string() : clean.substr(first);
  while (!clean.empty() && clean.back() == ' ') clean.pop_back();
  if (clean.size() > kMaxNameOctets) {
    std::size_t cut = kMaxNameOctets;
    while (cut > 0 && (static_cast<unsigned char>(clean[cut]) & 0xC0) == 0x80) --cut;
    clean.resize(cut);
  }
  if (clean.empty()) clean = "datei";
  return std::to_string(number) + "-" + clean;
}

std::optional<int32_t> ParseFileNumber(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  int32_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end == text.data()) return std::nullopt;
  return value;
}

void ReceivedFiles::Prepare() const {
  std::error_code ec;
  std::filesystem::create_directories(dir_, ec);
  if (ec || !std::filesystem::is_directory(dir_)) {
    throw std::runtime_error("cannot use " + dir_.string() + " for received files" +
                             (ec ? ": " + ec.message() : std::string(": not a folder")));
  }
}

std::filesystem::path ReceivedFiles::Save(int32_t number, std::string_view name,
                                          std::string_view content) const {
  const std::filesystem::path target = dir_ / SafeFileName(number, name);
  std::string temp = (dir_ / ".vexcomm-XXXXXX").string();
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) throw std::runtime_error(Errno("cannot write in", dir_));
  bool ok = true;
  for (std::size_t done = 0; ok && done < content.size();) {
    const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<std::size_t>(n);
  }
  // The server moves on past this file for good: it must be on disk before we say so.
  ok = ok && ::fsync(fd) == 0;
  ok = ok && ::fchmod(fd, 0666 & ~ProcessUmask()) == 0;
  const std::string failure = ok ? std::string() : Errno("cannot write", target);
  ::close(fd);
  if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
    const std::string message = Errno("cannot write", target);
    ::unlink(temp.c_str());
    throw std::runtime_error(message);
  }
  if (!ok) {
    ::unlink(temp.c_str());
    throw std::runtime_error(failure);
  }
  RemoveNumber(number, target, nullptr);
  return target;
}

std::optional<std::filesystem::path> ReceivedFiles::Remove(int32_t number) const {
  std::optional<std::filesystem::path> removed;
  RemoveNumber(number, {}, &removed);
  return removed;
}

void ReceivedFiles::RemoveNumber(int32_t number, const std::filesystem::path& keep,
                                 std::optional<std::filesystem::path>* removed) const {
  const std::string prefix = std::to_string(number) + "-";
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir_, ec)) {
    const std::string file = entry.path().filename().string();
    if (file.rfind(prefix, 0) != 0 || entry.path() == keep) continue;
    if (!entry.is_regular_file(ec) || entry.is_symlink(ec)) continue;
    if (std::filesystem::remove(entry.path(), ec) && removed) *removed = entry.path();
  }
}

}  // namespace vexcomm::cli
