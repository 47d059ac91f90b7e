#include "received_files.h"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <system_error>
#include <vector>

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

std::string Errno(const std::string& what, const std::filesystem::path& path) {
  return what + " " + path.string() + ": " + std::strerror(errno);
}

constexpr std::string_view kTempPrefix = ".vexcomm-";

// ".vexcomm-<pid>-": a later run can tell whether the writer of a temp file still lives.
std::string TempPrefix() {
  return std::string(kTempPrefix) + std::to_string(::getpid()) + "-";
}

// Temp files whose writer is gone (or, for those without a pid, older than an hour).
void RemoveStaleTemps(const std::filesystem::path& dir) {
  std::error_code ec;
  const auto hour_ago = std::filesystem::file_time_type::clock::now() - std::chrono::hours(1);
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(kTempPrefix, 0) != 0 || name == ReceivedFiles::kRecordName) continue;
    if (!entry.is_regular_file(ec) || entry.is_symlink(ec)) continue;
    const std::string_view rest = std::string_view(name).substr(kTempPrefix.size());
    long pid = 0;
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), pid);
    const bool has_pid = error == std::errc() && end != rest.data() && *end == '-' && pid > 0;
    const bool stale = has_pid ? ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH
                               : entry.last_write_time(ec) < hour_ago && !ec;
    if (stale) ::unlink(entry.path().c_str());
  }
}

// "<number>\t<file name>" lines; a line naming anything but a plain file of its number in the
// folder is dropped, so a damaged record can never point elsewhere.
std::map<int32_t, std::string> ReadRecord(const std::filesystem::path& record) {
  std::map<int32_t, std::string> saved;
  std::ifstream in(record, std::ios::binary);
  for (std::string line; std::getline(in, line);) {
    const auto tab = line.find('\t');
    if (tab == std::string::npos) continue;
    int32_t number = 0;
    const auto [end, error] = std::from_chars(line.data(), line.data() + tab, number);
    if (error != std::errc() || end != line.data() + tab) continue;
    const std::string file = line.substr(tab + 1);
    if (file.rfind(std::to_string(number) + "-", 0) != 0 || file.find('/') != std::string::npos) {
      continue;
    }
    saved[number] = file;
  }
  return saved;
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

void ReceivedFiles::Prepare() {
  if (prepared_) return;
  // Only the folders made here are made private; an existing one keeps the user's choice.
  std::vector<std::filesystem::path> missing;
  for (auto p = dir_; !p.empty() && !std::filesystem::exists(p); p = p.parent_path()) {
    missing.push_back(p);
    if (p == p.parent_path()) break;
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    if (::mkdir(it->c_str(), 0700) != 0 && errno != EEXIST) {
      throw std::runtime_error(Errno("cannot create", *it));
    }
  }
  std::error_code ec;
  if (!std::filesystem::is_directory(dir_, ec)) {
    throw std::runtime_error("cannot use " + dir_.string() + " for received files: not a folder");
  }
  RemoveStaleTemps(dir_);
  saved_ = ReadRecord(dir_ / std::string(kRecordName));
  prepared_ = true;
}

std::string ReceivedFiles::WriteTemp(std::string_view content, const std::filesystem::path& target,
                                     SaveAs as) const {
  std::string temp = (dir_ / TempPrefix()).string() + "XXXXXX";
  const int fd = ::mkstemp(temp.data());  // 0600
  if (fd < 0) throw std::runtime_error(Errno("cannot write in", dir_));
  bool ok = WriteContent(fd, content, as);
  // The server moves on past this file for good: it must be on disk before we say so.
  ok = ok && ::fsync(fd) == 0;
  const std::string failure = ok ? std::string() : Errno("cannot write", target);
  ::close(fd);
  if (!ok) {
    ::unlink(temp.c_str());
    throw std::runtime_error(failure);
  }
  return temp;
}

std::filesystem::path ReceivedFiles::Save(int32_t number, std::string_view name,
                                          std::string_view content, SaveAs as) {
  Prepare();
  const std::string wanted = SafeFileName(number, name);
  const auto earlier = saved_.find(number);
  const std::optional<std::string> previous =
      earlier == saved_.end() ? std::nullopt : std::optional<std::string>(earlier->second);
  const std::string temp = WriteTemp(content, dir_ / wanted, as);
  std::string placed;
  if (previous == wanted) {
    if (::rename(temp.c_str(), (dir_ / wanted).c_str()) == 0) placed = wanted;
  } else {
    // A file of that name that is not ours stays: the new one goes beside it.
    const std::filesystem::path stem = std::filesystem::path(wanted).stem();
    const std::string extension = std::filesystem::path(wanted).extension().string();
    for (int n = 1; n <= 100 && placed.empty(); ++n) {
      const std::string candidate =
          n == 1 ? wanted : stem.string() + "-" + std::to_string(n) + extension;
      if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, (dir_ / candidate).c_str(),
                      RENAME_NOREPLACE) == 0) {
        placed = candidate;
      } else if (errno != EEXIST) {
        break;
      }
    }
  }
  if (placed.empty()) {
    const std::string message = Errno("cannot write", dir_ / wanted);
    ::unlink(temp.c_str());
    throw std::runtime_error(message);
  }
  saved_[number] = placed;
  try {
    WriteRecord();
  } catch (...) {
    // Unrecorded, the new file could never be replaced or removed: take it back.
    ::unlink((dir_ / placed).c_str());
    if (previous) {
      saved_[number] = *previous;
    } else {
      saved_.erase(number);
    }
    throw;
  }
  if (previous && *previous != placed) ::unlink((dir_ / *previous).c_str());
  return dir_ / placed;
}

std::optional<std::filesystem::path> ReceivedFiles::Remove(int32_t number) {
  if (!prepared_) {
    std::error_code ec;
    if (!std::filesystem::is_directory(dir_, ec)) return std::nullopt;  // nothing saved yet
    Prepare();
  }
  const auto it = saved_.find(number);
  if (it == saved_.end()) return std::nullopt;
  const std::filesystem::path path = dir_ / it->second;
  const bool gone = ::unlink(path.c_str()) == 0;
  if (!gone && errno != ENOENT) throw std::runtime_error(Errno("cannot remove", path));
  saved_.erase(it);
  WriteRecord();
  if (!gone) return std::nullopt;  // the user removed it already
  return path;
}

void ReceivedFiles::WriteRecord() const {
  std::string text;
  for (const auto& [number, file] : saved_) text += std::to_string(number) + "\t" + file + "\n";
  const std::filesystem::path record = dir_ / std::string(kRecordName);
  const std::string temp = WriteTemp(text, record);
  if (::rename(temp.c_str(), record.c_str()) != 0) {
    const std::string message = Errno("cannot write", record);
    ::unlink(temp.c_str());
    throw std::runtime_error(message);
  }
}

}  // namespace vexcomm::cli
