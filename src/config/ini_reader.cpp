#include "config/ini_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <string_view>

#include <vexcomm/build_config.h>
#include <vexcomm/host.h>

#include "platform/cp1252.h"
#include "platform/host_services.h"
#include "platform/utf8.h"

namespace vexcomm::config {
namespace {

// The profile buffer holds 255 characters with the terminator.
constexpr std::size_t kMaxValueLength = 254;

std::optional<std::string> ReadRegularFile(const std::string& path) {
  // Without waiting: a pipe would wait for a writer before it could be passed over.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  std::optional<std::string> content;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    std::string data;
    data.resize(static_cast<std::size_t>(st.st_size) + 1);
    std::size_t used = 0;
    for (;;) {
      if (used == data.size()) data.resize(data.size() * 2);
      const ssize_t n = ::read(fd, data.data() + used, data.size() - used);
      if (n < 0) {
        used = std::string::npos;
        break;
      }
      if (n == 0) break;
      used += static_cast<std::size_t>(n);
    }
    if (used != std::string::npos) {
      data.resize(used);
      content = std::move(data);
    }
  }
  ::close(fd);
  return content;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && platform::ToUpper(a) == platform::ToUpper(b);
}

// The value of the first `key` in the first `section`, or nothing.
std::optional<std::string_view> FindValue(std::string_view text, std::string_view section,
                                          std::string_view key) {
  bool in_section = false;
  bool section_seen = false;
  while (!text.empty()) {
    const auto newline = text.find('\n');
    std::string_view line = Trim(text.substr(0, newline));
    text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      const auto close = line.rfind(']');
      if (close != 0 && close != std::string_view::npos) {
        // Only the first section of a name counts: a repeated one is not searched.
        if (in_section) return std::nullopt;
        in_section = !section_seen && SameName(Trim(line.substr(1, close - 1)), section);
        section_seen = section_seen || in_section;
        continue;
      }
    }
    if (!in_section) continue;
    const auto equals = line.find('=');
    const std::string_view name = Trim(line.substr(0, equals));
    if (!SameName(name, key)) continue;
    return equals == std::string_view::npos ? std::string_view{} : Trim(line.substr(equals + 1));
  }
  return std::nullopt;
}

// Windows editors save "Unicode" as UTF-16LE; an unpaired surrogate becomes U+FFFD and a
// final odd byte is dropped.
std::string Utf16LeToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  auto unit = [&bytes](std::size_t i) {
    return static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                 (static_cast<unsigned char>(bytes[i + 1]) << 8));
  };
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    char32_t cp = unit(i);
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 3 < bytes.size()) {
      const char16_t low = unit(i + 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
    }
    if (cp >= 0xD800 && cp <= 0xDFFF) cp = 0xFFFD;
    platform::AppendUtf8(out, cp);
  }
  return out;
}

// The file's text as UTF-8, whatever form a Windows editor saved it in.
std::string DecodeIniText(std::string_view content) {
  if (content.starts_with("\xFF\xFE")) return Utf16LeToUtf8(content.substr(2));
  if (content.starts_with("\xEF\xBB\xBF")) content.remove_prefix(3);
  // Files from a Windows installation are in its ANSI code page rather than UTF-8.
  return platform::TextAsUtf8(std::string(content));
}

}  // namespace

std::string LeseIni(const std::string& path, const std::string& section, const std::string& key,
                    const std::string& default_value) {
  std::optional<std::string> content = ReadRegularFile(path);
  if (!content) return default_value;
  const std::string text = DecodeIniText(*content);
  if (text.find('\0') != std::string::npos) return default_value;

  std::optional<std::string_view> value = FindValue(text, section, key);
  if (!value) return default_value;
  std::string_view v = *value;
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    v = v.substr(1, v.size() - 2);
  }
  v = platform::CodePointPrefix(v, kMaxValueLength);
  return v.empty() ? default_value : std::string(v);
}

ServerHost SelectServerHost(const std::string& ini_dir, const std::string& standard_host) {
  const std::string path = ini_dir + "MorvaZedi.ini";
  if (!platform::VisibleFileExists(path)) return {standard_host, false};
  return {LeseIni(path, "Comm", "IP", standard_host), true};
}

std::string StandardServerHost() {
  return VEXCOMM_STANDARD_HOST;
}

}  // namespace vexcomm::config

namespace vexcomm {

std::string ReadIniValue(const std::filesystem::path& file, const std::string& section,
                         const std::string& key, const std::string& default_value) {
  return config::LeseIni(file.string(), section, key, default_value);
}

std::string ServerHostName(const std::string& ini_dir) {
  return config::SelectServerHost(ini_dir, config::StandardServerHost()).host;
}

}  // namespace vexcomm
