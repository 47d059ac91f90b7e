#include "config/registry_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>
#include <system_error>

#include <vexcomm/file_replace.h>

#include "platform/escape.h"
#include "platform/private_folders.h"
#include "platform/utf8.h"

namespace vexcomm::config {
namespace {

// ---- Key paths ---------------------------------------------------------------------------

// The parts of a key path; nothing when malformed. One trailing "\" is tolerated.
std::optional<std::vector<std::string>> SplitKeyPath(std::string_view path) {
  std::vector<std::string> parts;
  if (path.empty()) return parts;
  if (path.back() == '\\') path.remove_suffix(1);
  for (;;) {
    const auto sep = path.find('\\');
    std::string_view part = path.substr(0, sep);
    if (part.empty()) return std::nullopt;
    parts.emplace_back(part);
    if (sep == std::string_view::npos) break;
    path.remove_prefix(sep + 1);
  }
  return parts;
}

std::string Fold(std::string_view s) {
  return platform::ToUpper(s);
}

// ---- In-memory form of one root ----------------------------------------------------------

struct Key {
  std::string path;  // as first written
  std::vector<RegistryStore::NamedValue> values;
  std::vector<std::string> folded_names;  // beside `values`, for the case-insensitive lookup

  RegistryStore::NamedValue* Find(std::string_view name) {
    const std::string folded = Fold(name);
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (folded_names[i] == folded) return &values[i];
    }
    return nullptr;
  }

  void Set(std::string_view name, RegistryValue value) {
    if (auto* existing = Find(name)) {
      existing->second = std::move(value);
    } else {
      values.emplace_back(std::string(name), std::move(value));
      folded_names.push_back(Fold(name));
    }
  }
};

// Keyed by the folded path; a parent sorts before its children.
using Tree = std::map<std::string, Key>;

// Creates the key and its missing parents; returns it.
Key& CreatePath(Tree& tree, const std::vector<std::string>& parts) {
  std::string folded;
  std::string stored;
  Key* key = nullptr;
  for (const auto& part : parts) {
    if (!folded.empty()) {
      folded += '\\';
      stored += '\\';
    }
    folded += Fold(part);
    stored += part;
    auto [it, inserted] = tree.try_emplace(folded);
    if (inserted) it->second.path = stored;
    stored = it->second.path;  // an existing key keeps its case
    key = &it->second;
  }
  return *key;
}

Key* FindPath(Tree& tree, const std::vector<std::string>& parts) {
  std::string folded;
  for (const auto& part : parts) {
    if (!folded.empty()) folded += '\\';
    folded += Fold(part);
  }
  auto it = tree.find(folded);
  return it == tree.end() ? nullptr : &it->second;
}

// ---- Text form ---------------------------------------------------------------------------
//
//   [Software\VexComm5]                  key path; "%", "]", controls, bad UTF-8 as %HH
//   "BLZ"=sz:"11122233\0"                name and string bytes with C escapes (\xHH)
//   "DateiNr"=dword:00000011             a four-byte DWORD
//   "Data"=hex:01,ff                     binary; other types as hex(N):

constexpr char kHex[] = "0123456789abcdef";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Calls emit(byte_run, is_plain) for each piece: plain runs are valid UTF-8 that needs no escape
// by `needs_escape`; other pieces are single bytes.
template <class NeedsEscape, class Emit>
void ForEachPiece(std::string_view s, NeedsEscape needs_escape, Emit emit) {
  std::size_t pos = 0;
  while (pos < s.size()) {
    const std::size_t start = pos;
    const char32_t cp = platform::DecodeUtf8(s, pos);
    if (cp == platform::kInvalidCodePoint || needs_escape(cp)) {
      emit(s.substr(start, 1), false);
      pos = start + 1;
    } else {
      emit(s.substr(start, pos - start), true);
    }
  }
}

void AppendKeyPart(std::string& out, std::string_view part) {
  ForEachPiece(
      part, [](char32_t cp) { return cp < 0x20 || cp == 0x7F || cp == '%' || cp == ']'; },
      [&](std::string_view piece, bool plain) {
        if (plain) {
          out += piece;
        } else {
          const auto b = static_cast<unsigned char>(piece[0]);
          out += '%';
          out += kHex[b >> 4];
          out += kHex[b & 0xF];
        }
      });
}

void AppendQuoted(std::string& out, std::string_view s) {
  out += '"';
  ForEachPiece(
      s, [](char32_t cp) { return cp < 0x20 || cp == 0x7F || cp == '"' || cp == '\\'; },
      [&](std::string_view piece, bool plain) {
        if (plain) {
          out += piece;
          return;
        }
        const auto b = static_cast<unsigned char>(piece[0]);
        if (b == 0) {
          out += "\\0";
        } else {
          platform::AppendEscapedByte(out, b, "\\x");
        }
      });
  out += '"';
}

std::string_view StringTypeName(uint32_t type) {
  switch (type) {
    case REG_SZ:
      return "sz";
    case REG_EXPAND_SZ:
      return "expand_sz";
    case REG_MULTI_SZ:
      return "multi_sz";
    default:
      return {};
  }
}

void AppendValue(std::string& out, const RegistryStore::NamedValue& nv) {
  const auto& [name, value] = nv;
  AppendQuoted(out, name);
  out += '=';
  if (std::string_view type_name = StringTypeName(value.type); !type_name.empty()) {
    out += type_name;
    out += ':';
    AppendQuoted(out, value.data);
  } else if (value.type == REG_DWORD && value.data.size() == 4) {
    const auto* b = reinterpret_cast<const unsigned char*>(value.data.data());
    const uint32_t n = b[0] | b[1] << 8 | b[2] << 16 | uint32_t{b[3]} << 24;  // little-endian
    char buf[16];
    std::snprintf(buf, sizeof buf, "dword:%08x", n);
    out += buf;
  } else {
    out += value.type == REG_BINARY ? "hex:" : "hex(" + std::to_string(value.type) + "):";
    for (std::size_t i = 0; i < value.data.size(); ++i) {
      if (i > 0) out += ',';
      const auto b = static_cast<unsigned char>(value.data[i]);
      out += kHex[b >> 4];
      out += kHex[b & 0xF];
    }
  }
  out += '\n';
}

std::string Serialize(const Tree& tree, std::string_view root_name) {
  std::string out = "; VexComm5 registry: ";
  out += root_name;
  out += '\n';
  for (const auto& [folded, key] : tree) {
    out += "\n[";
    auto parts = SplitKeyPath(key.path);
    for (std::size_t i = 0; parts && i < parts->size(); ++i) {
      if (i > 0) out += '\\';
      AppendKeyPart(out, (*parts)[i]);
    }
    out += "]\n";
    for (const auto& nv : key.values) AppendValue(out, nv);
  }
  return out;
}

// Parsing works on a cursor over one line; every function returns false on malformed input.
struct Cursor {
  std::string_view rest;

  bool Take(std::string_view s) {
    if (!rest.starts_with(s)) return false;
    rest.remove_prefix(s.size());
    return true;
  }
};

bool ParseQuoted(Cursor& c, std::string& out) {
  if (!c.Take("\"")) return false;
  while (!c.rest.empty()) {
    const auto special = c.rest.find_first_of("\"\\");
    if (special == std::string_view::npos) return false;  // no closing quote: a cut line
    out.append(c.rest.substr(0, special));
    const char ch = c.rest[special];
    c.rest.remove_prefix(special + 1);
    if (ch == '"') return true;
    if (c.rest.empty()) return false;
    const char esc = c.rest.front();
    c.rest.remove_prefix(1);
    switch (esc) {
      case '"':
      case '\\':
        out += esc;
        break;
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case 't':
        out += '\t';
        break;
      case '0':
        out += '\0';
        break;
      case 'x': {
        if (c.rest.size() < 2) return false;
        const int hi = HexValue(c.rest[0]);
        const int lo = HexValue(c.rest[1]);
        if (hi < 0 || lo < 0) return false;
        out += static_cast<char>(hi * 16 + lo);
        c.rest.remove_prefix(2);
        break;
      }
      default:
        return false;
    }
  }
  return false;  // no closing quote: a cut line
}

bool ParseHexBytes(std::string_view text, std::string& out) {
  if (text.empty()) return true;
  for (;;) {
    if (text.size() < 2) return false;
    const int hi = HexValue(text[0]);
    const int lo = HexValue(text[1]);
    if (hi < 0 || lo < 0) return false;
    out += static_cast<char>(hi * 16 + lo);
    text.remove_prefix(2);
    if (text.empty()) return true;
    if (text.front() != ',') return false;
    text.remove_prefix(1);
  }
}

bool ParseUnsigned(std::string_view text, int base, uint32_t& out) {
  if (text.empty() || text.size() > (base == 16 ? 8u : 10u)) return false;
  uint64_t n = 0;
  for (char ch : text) {
    const int d = HexValue(ch);
    if (d < 0 || d >= base) return false;
    n = n * static_cast<unsigned>(base) + static_cast<unsigned>(d);
  }
  if (n > 0xFFFFFFFFu) return false;
  out = static_cast<uint32_t>(n);
  return true;
}

bool ParseValueLine(std::string_view line, RegistryStore::NamedValue& nv) {
  Cursor c{line};
  if (!ParseQuoted(c, nv.first) || !c.Take("=")) return false;
  RegistryValue& v = nv.second;
  for (uint32_t type : {REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ}) {
    if (c.Take(std::string(StringTypeName(type)) + ":")) {
      v.type = type;
      return ParseQuoted(c, v.data) && c.rest.empty();
    }
  }
  if (c.Take("dword:")) {
    uint32_t n = 0;
    if (c.rest.size() != 8 || !ParseUnsigned(c.rest, 16, n)) return false;
    v.type = REG_DWORD;
    for (int i = 0; i < 4; ++i) v.data += static_cast<char>((n >> (8 * i)) & 0xFF);
    return true;
  }
  if (c.Take("hex:")) {
    v.type = REG_BINARY;
    return ParseHexBytes(c.rest, v.data);
  }
  if (c.Take("hex(")) {
    const auto close = c.rest.find("):");
    if (close == std::string_view::npos || !ParseUnsigned(c.rest.substr(0, close), 10, v.type)) {
      return false;
    }
    return ParseHexBytes(c.rest.substr(close + 2), v.data);
  }
  return false;
}

std::optional<std::vector<std::string>> ParseKeyLine(std::string_view line) {
  if (line.size() < 2 || line.front() != '[' || line.back() != ']') return std::nullopt;
  line = line.substr(1, line.size() - 2);
  std::string path;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] != '%') {
      path += line[i];
      continue;
    }
    if (i + 2 >= line.size()) return std::nullopt;
    const int hi = HexValue(line[i + 1]);
    const int lo = HexValue(line[i + 2]);
    if (hi < 0 || lo < 0) return std::nullopt;
    const char b = static_cast<char>(hi * 16 + lo);
    if (b == '\\') return std::nullopt;  // no key name holds the separator
    path += b;
    i += 2;
  }
  if (path.empty()) return std::nullopt;
  return SplitKeyPath(path);
}

// What can be parsed of a file's text: lines that do not parse (garbage) are skipped, and so are
// the values of a key line that does not parse. Every line ends in a newline: a last line
// without one is a cut line and may look valid ("hex:01,02" of "hex:01,02,03"), so it is dropped.
// `damaged` tells whether anything was skipped.
Tree Parse(std::string_view text, bool* damaged = nullptr) {
  Tree tree;
  Key* current = nullptr;
  bool skipped = false;
  for (;;) {
    const auto newline = text.find('\n');
    if (newline == std::string_view::npos) break;
    std::string_view line = text.substr(0, newline);
    text.remove_prefix(newline + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      auto parts = ParseKeyLine(line);
      current = parts ? &CreatePath(tree, *parts) : nullptr;
      skipped |= !parts;
      continue;
    }
    RegistryStore::NamedValue nv;
    if (current != nullptr && ParseValueLine(line, nv)) {
      current->Set(nv.first, std::move(nv.second));
    } else {
      skipped = true;
    }
  }
  if (damaged) *damaged = skipped || !text.empty();
  return tree;
}

// ---- Files -------------------------------------------------------------------------------

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// 0 with the content, ENOENT for no file, or the errno of a file that is there but unreadable.
int ReadFile(const std::filesystem::path& path, std::string& data) {
  data.clear();
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return errno;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return errno;
  if (!S_ISREG(st.st_mode)) return EISDIR;
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) break;
    data.append(buf, static_cast<std::size_t>(n));
  }
  return 0;
}

std::string ReadWholeFile(const std::filesystem::path& path) {
  std::string data;
  if (ReadFile(path, data) != 0) data.clear();
  return data;
}

// Replaces `path` by `content` so that the old or the new file is seen, never a mixture.
// 0, or the errno of the step that failed.
int ReplaceFile(const std::filesystem::path& path, std::string_view content) {
  // The temporary name is ours alone: the caller holds the lock.
  AtomicFile file(path, AtomicFile::Placement::kReplace, ".tmp");
  file.Write(content);
  return file.Commit();
}

std::string_view RootName(int32_t root) {
  switch (root) {
    case HKEY_CLASSES_ROOT:
      return "HKEY_CLASSES_ROOT";
    case HKEY_CURRENT_USER:
      return "HKEY_CURRENT_USER";
    case HKEY_LOCAL_MACHINE:
      return "HKEY_LOCAL_MACHINE";
    case HKEY_USERS:
      return "HKEY_USERS";
    case HKEY_CURRENT_CONFIG:
      return "HKEY_CURRENT_CONFIG";
    default:
      return {};
  }
}

// "<file>.corrupt-YYYYMMDD-HHMMSS" (UTC), with a counter when that name is taken.
std::filesystem::path AsideName(const std::filesystem::path& file) {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  ::gmtime_r(&now, &utc);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, ".corrupt-%Y%m%d-%H%M%S", &utc);
  std::filesystem::path aside = file;
  aside += stamp;
  std::error_code ec;
  for (int n = 2; std::filesystem::exists(aside, ec); ++n) {
    aside = file;
    aside += std::string(stamp) + "-" + std::to_string(n);
  }
  return aside;
}

// Read-modify-write of one root's file under its lock; `change` returns false to abandon. A file
// that cannot be read is never replaced; a damaged one is kept aside first, as evidence.
// A failed write tells `failure` why: the errno of the step, with the file it was about.
bool Modify(const RegistryStore& store, int32_t root, const std::function<bool(Tree&)>& change,
            RegistryStore::WriteFailure* failure = nullptr) {
  const std::filesystem::path file = store.FileOf(root);
  if (file.empty()) return false;
  auto fail = [&](int error, const std::filesystem::path& what) {
    if (failure) *failure = {what, std::error_code(error, std::generic_category())};
    return false;
  };
  try {
    platform::CreatePrivateFolders(store.dir());
  } catch (const std::system_error& e) {
    return fail(e.code().value(), store.dir());
  }
  std::filesystem::path lock_path = file;
  lock_path += ".lock";
  FileDescriptor lock(::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (lock.get() < 0) return fail(errno, lock_path);
  while (::flock(lock.get(), LOCK_EX) != 0) {
    if (errno != EINTR) return fail(errno, lock_path);
  }
  std::string text;
  const int read_error = ReadFile(file, text);
  if (read_error != 0 && read_error != ENOENT) {
    store.Report("cannot read the registry store " + file.string() + ": " +
                 std::strerror(read_error) + "; it is left as it is");
    return fail(read_error, file);
  }
  bool damaged = false;
  Tree tree = Parse(text, &damaged);
  if (damaged) {
    const auto aside = AsideName(file);
    if (::rename(file.c_str(), aside.c_str()) != 0) return fail(errno, file);
    store.Report("the registry store " + file.string() + " was damaged; kept as " + aside.string() +
                 ", what could be read is carried on");
  }
  if (!change(tree)) return false;
  const int write_error = ReplaceFile(file, Serialize(tree, RootName(root)));
  return write_error == 0 || fail(write_error, file);
}

}  // namespace

RegistryStore::RegistryStore(std::filesystem::path dir, Reporter report)
    : dir_(std::move(dir)), report_(std::move(report)) {}

void RegistryStore::Report(const std::string& text) const {
  try {
    if (report_) {
      report_(text);
    } else {
      std::fprintf(stderr, "vexcomm: %s\n", text.c_str());
    }
  } catch (...) {
    // A notice only.
  }
}

std::optional<RegistryStore::KeyRead> RegistryStore::ReadKey(int32_t root,
                                                             std::string_view key_path) const {
  const auto parts = SplitKeyPath(key_path);
  if (!IsRoot(root) || !parts || parts->empty()) return KeyRead{};
  const auto file = FileOf(root);
  std::string text;
  const int read_error = ReadFile(file, text);
  if (read_error == ENOENT) return KeyRead{};
  if (read_error != 0) {
    Report("cannot read the registry store " + file.string() + ": " + std::strerror(read_error));
    return std::nullopt;
  }
  KeyRead read;
  Tree tree = Parse(text, &read.damaged);
  // A damaged file is kept aside at once, under the writers' lock, and what could be read is
  // written anew: no later write carries on from it unseen.
  if (read.damaged) Modify(*this, root, [](Tree&) { return true; });
  if (Key* key = FindPath(tree, *parts)) read.values = std::move(key->values);
  return read;
}

bool RegistryStore::IsRoot(int32_t root) noexcept {
  return !RootName(root).empty();
}

std::filesystem::path RegistryStore::FileOf(int32_t root) const {
  const std::string_view name = RootName(root);
  if (name.empty()) return {};
  return dir_ / (std::string(name) + ".txt");
}

bool RegistryStore::KeyExists(int32_t root, std::string_view key_path) const {
  if (!IsRoot(root)) return false;
  const auto parts = SplitKeyPath(key_path);
  if (!parts) return false;
  if (parts->empty()) return true;
  Tree tree = Parse(ReadWholeFile(FileOf(root)));
  return FindPath(tree, *parts) != nullptr;
}

std::optional<RegistryValue> RegistryStore::QueryValue(int32_t root, std::string_view key_path,
                                                       std::string_view name) const {
  if (!IsRoot(root)) return std::nullopt;
  const auto parts = SplitKeyPath(key_path);
  if (!parts || parts->empty()) return std::nullopt;  // the roots hold no values here
  Tree tree = Parse(ReadWholeFile(FileOf(root)));
  Key* key = FindPath(tree, *parts);
  if (key == nullptr) return std::nullopt;
  const auto* nv = key->Find(name);
  if (nv == nullptr) return std::nullopt;
  return nv->second;
}

bool RegistryStore::CreateKey(int32_t root, std::string_view key_path) {
  // Opening an existing key writes nothing.
  if (KeyExists(root, key_path) && !key_path.empty()) return true;
  return SetValues(root, key_path, {});
}

bool RegistryStore::SetValue(int32_t root, std::string_view key_path, std::string_view name,
                             RegistryValue value) {
  return SetValues(root, key_path, {NamedValue(std::string(name), std::move(value))});
}

bool RegistryStore::SetValues(int32_t root, std::string_view key_path,
                              const std::vector<NamedValue>& values, WriteFailure* failure) {
  const auto parts = SplitKeyPath(key_path);
  if (!parts || parts->empty()) return false;
  return Modify(
      *this, root,
      [&](Tree& tree) {
        Key& key = CreatePath(tree, *parts);
        for (const auto& [name, value] : values) key.Set(name, value);
        return true;
      },
      failure);
}

std::string RegistryStore::WriteFailure::Describe() const {
  return file.string() + ": " + (error ? error.message() : std::string("not written"));
}

DecodedValue Decode(const RegistryValue& value) noexcept {
  const std::string_view data = value.data;
  switch (value.type) {
    case REG_SZ:
    case REG_MULTI_SZ:
      return {DecodedValue::Kind::Text, data.substr(0, data.empty() ? 0 : data.size() - 1)};
    case REG_DWORD: {
      uint32_t n = 0;
      for (std::size_t i = std::min<std::size_t>(data.size(), 4); i > 0; --i) {
        n = (n << 8) | static_cast<unsigned char>(data[i - 1]);
      }
      return {DecodedValue::Kind::Number, {}, static_cast<int32_t>(n)};
    }
    default:
      return {DecodedValue::Kind::Bytes, data};
  }
}

}  // namespace vexcomm::config
