#include "file_content.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include <vexcomm/text.h>

namespace vexcomm::cli {
namespace {

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
  constexpr std::size_t kPiece = std::size_t{256} << 10;
  std::vector<char> octets(as == SaveAs::kOctets ? std::min(content.size(), kPiece) : 0);
  std::string_view pending;  // made, not yet written
  while (!pending.empty() || !content.empty()) {
    if (pending.empty()) {
      std::size_t cut = content.size();
      pending = content;
      if (as == SaveAs::kOctets) {
        cut = std::min(cut, kPiece);
        // A piece ends before a character, never inside one.
        for (int back = 0; back < 3 && cut < content.size() && IsContinuation(content[cut]);
             ++back) {
          --cut;
        }
        pending = {octets.data(), Utf8ToCp1252(content.substr(0, cut), octets.data())};
      }
      content.remove_prefix(cut);
    }
    const ssize_t n = ::write(fd, pending.data(), pending.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    pending.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace vexcomm::cli
