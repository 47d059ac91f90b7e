// A length prefix states what the socket writes: for any bytes, the octets that the content
// becomes in Windows-1252 are as many as the stated length, and the element reader on the far
// side reads the element whole, ":" and "@" inside it included.
//
// Input: the text to wrap, any bytes.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "platform/cp1252.h"
#include "transport/cls_element.h"
#include "transport/frame.h"

using namespace vexcomm;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = vexcomm::fuzz::AsText(data, size);
  const std::string prefixed = transport::LengthPrefixed(text);
  if (text.empty()) {
    FUZZ_CHECK(prefixed.empty());
    return 0;
  }
  const std::size_t content = transport::LengthPrefixedContentOffset(prefixed);
  FUZZ_CHECK(content != std::string::npos);
  FUZZ_CHECK(prefixed.substr(content) == text);
  const std::string stated = prefixed.substr(1, content - 2);
  FUZZ_CHECK(std::to_string(platform::Utf8ToCp1252(text).size()) == stated);

  // As the server receives it: the octets of the frame, read back as text.
  const std::string frame = transport::BuildRequest("AKLOG", {"x", prefixed, "y"});
  const std::string received = platform::Cp1252ToUtf8(platform::Utf8ToCp1252(frame));
  transport::clsElement elements;
  transport::SplitElements(received, elements, true);
  FUZZ_CHECK(elements.Count() == 7);
  FUZZ_CHECK(elements.Item(5) == platform::Cp1252ToUtf8(platform::Utf8ToCp1252(prefixed)));
  FUZZ_CHECK(elements.Item(6) == "y");
  FUZZ_CHECK(elements.Item(7) == "MSGEND");
  return 0;
}
