#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

namespace vexcomm::config {

// Handle values of the predefined root keys, as the 32-bit signed numbers a host passes.
inline constexpr int32_t HKEY_CLASSES_ROOT = static_cast<int32_t>(0x80000000u);
inline constexpr int32_t HKEY_CURRENT_USER = static_cast<int32_t>(0x80000001u);
inline constexpr int32_t HKEY_LOCAL_MACHINE = static_cast<int32_t>(0x80000002u);
inline constexpr int32_t HKEY_USERS = static_cast<int32_t>(0x80000003u);
inline constexpr int32_t HKEY_CURRENT_CONFIG = static_cast<int32_t>(0x80000005u);

// Value types; any other number is stored and returned as given.
inline constexpr uint32_t REG_NONE = 0;
inline constexpr uint32_t REG_SZ = 1;
inline constexpr uint32_t REG_EXPAND_SZ = 2;
inline constexpr uint32_t REG_BINARY = 3;
inline constexpr uint32_t REG_DWORD = 4;
inline constexpr uint32_t REG_MULTI_SZ = 7;

// A stored value: its type and its bytes exactly as written (a string's terminators are part of
// the bytes, as on Windows; a DWORD is four bytes, little-endian).
struct RegistryValue {
  uint32_t type = REG_NONE;
  std::string data;

  friend bool operator==(const RegistryValue&, const RegistryValue&) = default;
};

// A stored value as a program reads it: REG_SZ and REG_MULTI_SZ as text of (size - 1) bytes,
// the terminator that the size counts dropped (a multi-string keeps its inner separators);
// REG_DWORD as its number, little-endian (a shorter value gives the low bytes); any other type,
// REG_EXPAND_SZ included (it is not expanded), as its bytes.
struct DecodedValue {
  enum class Kind : uint8_t { Text, Number, Bytes };
  Kind kind = Kind::Bytes;
  std::string_view text;  // Text and Bytes: a view into the value's data
  int32_t number = 0;
};
DecodedValue Decode(const RegistryValue& value) noexcept;

// The registry stand-in: one text file per root key in `dir` ("HKEY_CURRENT_USER.txt", ...).
// Key paths are "\"-separated and compared case-insensitively (the case first written is kept);
// value names likewise. Every call reads the file afresh, so other processes' writes are seen.
// A write is a read-modify-write under an exclusive flock on a lock file beside the root's file,
// written to a temporary file, synced and renamed over the old one: readers never see a
// half-written file and need no lock. A damaged file yields what can still be parsed; a write
// (or ReadKey) keeps it aside as "<file>.corrupt-YYYYMMDD-HHMMSS" and says so through the reporter
// before writing anew; a file that cannot be read at all is never replaced.
// Thread-safety: an instance holds no state besides the folder and reporter; any thread may use
// it when the reporter allows.
class RegistryStore {
 public:
  using NamedValue = std::pair<std::string, RegistryValue>;
  // Receives notices about damaged or unreadable files; none: a line on standard error.
  using Reporter = std::function<void(const std::string& text)>;

  explicit RegistryStore(std::filesystem::path dir, Reporter report = {});

  const std::filesystem::path& dir() const noexcept { return dir_; }
  static bool IsRoot(int32_t root) noexcept;
  // The root's file; empty for a value that is no root.
  std::filesystem::path FileOf(int32_t root) const;

  // The root itself (empty path) always exists.
  bool KeyExists(int32_t root, std::string_view key_path) const;
  // Nothing for a missing key or value (an empty value is a value).
  std::optional<RegistryValue> QueryValue(int32_t root, std::string_view key_path,
                                          std::string_view name) const;

  // Create the key with its missing parents. False for no root, a malformed path ("\" at the
  // start, empty parts) or a failed write; the old file is left as it was then.
  // All values of one key in one read; nothing when the file is there but cannot be read.
  // `damaged`: the file held lines that did not parse (it has been kept aside by now).
  struct KeyRead {
    std::vector<NamedValue> values;
    bool damaged = false;
  };
  std::optional<KeyRead> ReadKey(int32_t root, std::string_view key_path) const;

  void Report(const std::string& text) const;

  bool CreateKey(int32_t root, std::string_view key_path);
  bool SetValue(int32_t root, std::string_view key_path, std::string_view name,
                RegistryValue value);
  // Why a write failed: the file and the cause.
  struct WriteFailure {
    std::filesystem::path file;
    std::error_code error;
    std::string Describe() const;  // "FILE: cause"
  };
  // Sets all values in one replace of the file: all or none are stored.
  bool SetValues(int32_t root, std::string_view key_path, const std::vector<NamedValue>& values,
                 WriteFailure* failure = nullptr);

 private:
  std::filesystem::path dir_;
  Reporter report_;
};

}  // namespace vexcomm::config
