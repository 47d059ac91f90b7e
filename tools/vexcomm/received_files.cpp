#include "received_files.h"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "messages.h"

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

// `what`: an untranslated pattern with %1 for the path.
std::string Errno(const char* what, const std::filesystem::path& path) {
  const std::string reason = std::strerror(errno);
  return Fill(Tr(what), {path.string()}) + ": " + reason;
}

constexpr std::string_view kTempPrefix = ".vexcomm-";

// ".vexcomm-<pid>-": a later run can tell whether the writer of a temp file still lives.
std::string TempPrefix() {
  static const std::string prefix = std::string(kTempPrefix) + std::to_string(::getpid()) + "-";
  return prefix;
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

// The record's lines:
//   "<number>\t<file>"            the file saved under the number
//   "+<number>\t<file>\t<inode>"  the same, written before the file was renamed into place: it
//                                 holds only when the file has that inode, that is when the
//                                 rename happened
//   "-\t<number>"                 the file saved under the number was removed
// A line naming anything but a plain file of its number in the folder is dropped, so a damaged
// record can never point elsewhere. Earlier versions read the first kind and pass over the rest.
struct Record {
  std::map<int32_t, std::string> saved;
  std::vector<std::string> replaced;  // ours, replaced by a later line: a run died before removing
  bool settled = true;                // the first kind of line alone
};

std::optional<int32_t> WholeNumber(std::string_view text) {
  int32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  for (std::size_t tab; (tab = line.find('\t')) != std::string_view::npos;) {
    fields.push_back(line.substr(0, tab));
    line.remove_prefix(tab + 1);
  }
  fields.push_back(line);
  return fields;
}

Record ReadRecord(const std::filesystem::path& dir) {
  Record record;
  std::ifstream in(dir / std::string(ReceivedFiles::kRecordName), std::ios::binary);
  for (std::string line; std::getline(in, line);) {
    const auto fields = Fields(line);
    if (fields.size() == 2 && fields[0] == "-") {
      if (const auto number = WholeNumber(fields[1])) record.saved.erase(*number);
      record.settled = false;
      continue;
    }
    const bool intent = !line.empty() && line.front() == '+';
    if (fields.size() != (intent ? 3u : 2u)) continue;
    const auto number = WholeNumber(intent ? fields[0].substr(1) : fields[0]);
    const std::string file(fields[1]);
    if (!number || file.rfind(std::to_string(*number) + "-", 0) != 0 ||
        file.find('/') != std::string::npos) {
      continue;
    }
    if (intent) {
      record.settled = false;
      struct stat st {};
      const auto inode = std::to_string(static_cast<uint64_t>(
          ::lstat((dir / file).c_str(), &st) == 0 && S_ISREG(st.st_mode) ? st.st_ino : 0));
      if (inode != fields[2]) continue;  // never renamed into place
    }
    auto [it, fresh] = record.saved.try_emplace(*number, file);
    if (!fresh && it->second != file) {
      if (intent) record.replaced.push_back(it->second);
      it->second = file;
    }
  }
  return record;
}

std::string ErrorText(const char* what, const std::filesystem::path& path, int error) {
  return Fill(Tr(what), {path.string()}) + ": " + std::strerror(error);
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
      throw std::runtime_error(Errno(N_("cannot create %1"), *it));
    }
  }
  std::error_code ec;
  if (!std::filesystem::is_directory(dir_, ec)) {
    throw std::runtime_error(
        Fill(Tr("cannot use %1 for received files: not a folder"), {dir_.string()}));
  }
  prepared_ = true;
}

void ReceivedFiles::Load() {
  if (loaded_) return;
  Prepare();
  RemoveStaleTemps(dir_);
  Record record = ReadRecord(dir_);
  saved_ = std::move(record.saved);
  // What a killed run left: the files it had replaced go now, and the record is settled.
  for (const auto& file : record.replaced) {
    const bool kept = std::any_of(saved_.begin(), saved_.end(),
                                  [&file](const auto& entry) { return entry.second == file; });
    if (!kept) ::unlink((dir_ / file).c_str());
  }
  if (!record.settled) WriteRecord();
  loaded_ = true;
}

ReceivedFiles::~ReceivedFiles() {
  CloseRecord();
}

void ReceivedFiles::CloseRecord() {
  if (record_fd_ >= 0) ::close(record_fd_);
  record_fd_ = -1;
}

ReceivedFiles::Temp ReceivedFiles::WriteTemp(std::string_view content,
                                             const std::filesystem::path& target, bool sync,
                                             SaveAs as) const {
  Temp temp{(dir_ / TempPrefix()).string() + "XXXXXX"};
  const int fd = ::mkostemp(temp.path.data(), O_CLOEXEC);  // 0600
  if (fd < 0) throw std::runtime_error(Errno(N_("cannot write in %1"), dir_));
  bool ok = WriteContent(fd, content, as);
  struct stat st {};
  ok = ok && (!sync || ::fsync(fd) == 0) && ::fstat(fd, &st) == 0;
  temp.inode = st.st_ino;
  const std::string failure = ok ? std::string() : Errno(N_("cannot write %1"), target);
  ::close(fd);
  if (!ok) {
    ::unlink(temp.path.c_str());
    throw std::runtime_error(failure);
  }
  return temp;
}

void ReceivedFiles::Append(const std::string& line) {
  const std::filesystem::path record = dir_ / std::string(kRecordName);
  if (record_fd_ < 0) {
    record_fd_ = ::open(record.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    struct stat st {};
    if (record_fd_ < 0 || ::fstat(record_fd_, &st) != 0) {
      const std::string message = Errno(N_("cannot write %1"), record);
      CloseRecord();
      throw std::runtime_error(message);
    }
    record_size_ = st.st_size;
  }
  ssize_t n;
  do {
    n = ::write(record_fd_, line.data(), line.size());
  } while (n < 0 && errno == EINTR);
  if (n != static_cast<ssize_t>(line.size())) {
    const int error = n < 0 ? errno : ENOSPC;
    // No torn line: the next one must start a line of its own.
    if (n > 0 && ::ftruncate(record_fd_, record_size_) != 0) CloseRecord();
    throw std::runtime_error(ErrorText(N_("cannot write %1"), record, error));
  }
  record_size_ += n;
}

std::filesystem::path ReceivedFiles::Save(int32_t number, std::string_view name,
                                          std::string_view content, SaveAs as) {
  Load();
  const std::string wanted = SafeFileName(number, name);
  const auto earlier = saved_.find(number);
  const std::optional<std::string> previous =
      earlier == saved_.end() ? std::nullopt : std::optional<std::string>(earlier->second);
  const Temp temp = WriteTemp(content, dir_ / wanted, false, as);
  // Named in the record first: a run killed right after the rename leaves a file it knows.
  auto place = [&](const std::string& name_in_dir, bool replace) {
    Append("+" + std::to_string(number) + "\t" + name_in_dir + "\t" + std::to_string(temp.inode) +
           "\n");
    const auto to = dir_ / name_in_dir;
    const int renamed =
        replace ? ::rename(temp.path.c_str(), to.c_str())
                : ::renameat2(AT_FDCWD, temp.path.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
    return renamed == 0 ? 0 : errno;
  };
  std::string placed;
  int error = EEXIST;
  try {
    if (previous == wanted) {
      error = place(wanted, true);
      if (error == 0) placed = wanted;
    } else {
      // A file of that name that is not ours stays: the new one goes beside it.
      const std::filesystem::path stem = std::filesystem::path(wanted).stem();
      const std::string extension = std::filesystem::path(wanted).extension().string();
      for (int n = 1; n <= 100 && placed.empty(); ++n) {
        const std::string candidate =
            n == 1 ? wanted : stem.string() + "-" + std::to_string(n) + extension;
        // A line for a name that turns out taken is harmless: the inode there is another.
        error = place(candidate, false);
        if (error == 0) {
          placed = candidate;
        } else if (error != EEXIST) {
          break;
        }
      }
    }
  } catch (...) {
    ::unlink(temp.path.c_str());
    throw;
  }
  if (placed.empty()) {
    ::unlink(temp.path.c_str());
    throw std::runtime_error(ErrorText(N_("cannot write %1"), dir_ / wanted, error));
  }
  saved_[number] = placed;
  uncommitted_ = true;
  if (previous && *previous != placed) ::unlink((dir_ / *previous).c_str());
  return dir_ / placed;
}

std::optional<std::filesystem::path> ReceivedFiles::Remove(int32_t number) {
  if (!loaded_) {
    std::error_code ec;
    if (!std::filesystem::is_directory(dir_, ec)) return std::nullopt;  // nothing saved yet
    Load();
  }
  const auto it = saved_.find(number);
  if (it == saved_.end()) return std::nullopt;
  const std::filesystem::path path = dir_ / it->second;
  const bool gone = ::unlink(path.c_str()) == 0;
  if (!gone && errno != ENOENT) throw std::runtime_error(Errno(N_("cannot remove %1"), path));
  Append("-\t" + std::to_string(number) + "\n");
  saved_.erase(it);
  uncommitted_ = true;
  if (!gone) return std::nullopt;  // the user removed it already
  return path;
}

void ReceivedFiles::Commit() {
  if (!uncommitted_) return;
  // One sync of the folder's file system for every file, rename and line of the record since
  // the last one: a sync per file would cost far more than the fetch.
  const int fd = ::open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const bool synced = fd >= 0 && ::syncfs(fd) == 0;
  const int error = errno;
  if (fd >= 0) ::close(fd);
  if (!synced)
    throw std::runtime_error(
        ErrorText(N_("cannot make the received files durable in %1"), dir_, error));
  uncommitted_ = false;
  try {
    // Settled, the record no longer needs the inodes: a file the user edits stays ours.
    WriteRecord();
  } catch (const std::exception&) {
    // The lines appended are durable and stay valid: the next run settles them.
  }
}

void ReceivedFiles::WriteRecord() {
  std::string text;
  for (const auto& [number, file] : saved_) text += std::to_string(number) + "\t" + file + "\n";
  const std::filesystem::path record = dir_ / std::string(kRecordName);
  const Temp temp = WriteTemp(text, record, true);
  CloseRecord();
  if (::rename(temp.path.c_str(), record.c_str()) != 0) {
    const std::string message = Errno(N_("cannot write %1"), record);
    ::unlink(temp.path.c_str());
    throw std::runtime_error(message);
  }
}

}  // namespace vexcomm::cli
