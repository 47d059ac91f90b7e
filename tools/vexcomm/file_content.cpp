#include "file_content.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include <vexcomm/text.h>

namespace vexcomm::cli {
namespace {

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool IsContinuation(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

}  // namespace

bool IsText(std::string_view content) {
  for (std::size_t i = 0; i < content.size(); ++i) {
    const auto c = static_cast<unsigned char>(content[i]);
    if (c < 0x20 ? c != '\t' && c != '\n' && c != '\f' && c != '\r' : c == 0x7F) return false;
    // U+0080..U+009F in UTF-8: from the wire only the five undefined octets come out as these.
    if (c == 0xC2 && i + 1 < content.size() && static_cast<unsigned char>(content[i + 1]) < 0xA0) {
      return false;
    }
  }
  return true;
}

bool WriteContent(int fd, std::string_view content, SaveAs as) {
  if (as == SaveAs::kUtf8) return WriteAll(fd, content);
  constexpr std::size_t kPiece = std::size_t{256} << 10;
  std::vector<char> octets(std::min(content.size(), kPiece));
  while (!content.empty()) {
    std::size_t cut = std::min(content.size(), kPiece);
    // A piece ends before a character, never inside one.
    for (int back = 0; back < 3 && cut < content.size() && IsContinuation(content[cut]); ++back) {
      --cut;
    }
    const std::size_t n = Utf8ToCp1252(content.substr(0, cut), octets.data());
    if (!WriteAll(fd, std::string_view(octets.data(), n))) return false;
    content.remove_prefix(cut);
  }
  return true;
}

}  // namespace vexcomm::cli
