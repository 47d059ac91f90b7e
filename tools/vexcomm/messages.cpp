#include "messages.h"

#include <libintl.h>
#include <unistd.h>

#include <clocale>
#include <filesystem>
#include <string>
#include <system_error>

namespace vexcomm::cli {
namespace {

constexpr const char* kDomain = "vexcomm";

}  // namespace

std::string Tr(std::string_view english) {
  if (english.empty()) return {};
  const std::string key(english);
  return ::dgettext(kDomain, key.c_str());
}

std::string TrN(std::string_view singular, std::string_view plural, unsigned long n) {
  const std::string one(singular), many(plural);
  return ::dngettext(kDomain, one.c_str(), many.c_str(), n);
}

std::string Fill(std::string_view pattern, std::initializer_list<std::string_view> values) {
  std::string text;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char next = i + 1 < pattern.size() ? pattern[i + 1] : '\0';
    if (pattern[i] == '%' && next >= '1' && next <= '9' &&
        static_cast<std::size_t>(next - '1') < values.size()) {
      text += *(values.begin() + (next - '1'));
      ++i;
    } else {
      text += pattern[i];
    }
  }
  return text;
}

std::string Counted(unsigned long n, std::string_view singular, std::string_view plural) {
  return Fill(TrN(singular, plural, n), {std::to_string(n)});
}

void InitMessages() {
  ::setlocale(LC_MESSAGES, "");
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path bin = fs::read_symlink("/proc/self/exe", ec).parent_path();
  // The build tree's catalogue beside the program, else the one of the prefix the program is
  // installed in (a package may use another prefix than the build), else the configured one.
  std::string dir = VEXCOMM_LOCALEDIR;
  for (const fs::path& candidate : {bin / "locale", bin / ".." / "share" / "locale"}) {
    if (!ec && fs::exists(candidate / "de" / "LC_MESSAGES" / "vexcomm.mo", ec)) {
      dir = candidate.lexically_normal().string();
      break;
    }
  }
  ::bindtextdomain(kDomain, dir.c_str());
  // UTF-8 whatever LC_CTYPE says: the catalogue and every other text of the program are.
  ::bind_textdomain_codeset(kDomain, "UTF-8");
}

}  // namespace vexcomm::cli
