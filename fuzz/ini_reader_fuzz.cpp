// The INI reader on any file: the answer is the default or a value the profile rules allow.
// In the second mode a one-key file is built from the input, and its value must come back.
//
// Input: a mode byte, then section and key as backslash-ended texts, then the file (mode 0)
// or the value (mode 1).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>

#include "config/ini_reader.h"
#include "fuzz_check.h"
#include "platform/utf8.h"

namespace {

using namespace vexcomm;

const std::string kDefault =
    "\x01"
    "default";

bool IsValidUtf8(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    if (platform::DecodeUtf8(text, pos) == platform::kInvalidCodePoint) return false;
  }
  return true;
}

// Names and values that the profile syntax passes through unchanged.
bool IsPlain(std::string_view text, std::string_view forbidden) {
  if (text.empty() || !IsValidUtf8(text)) return false;
  for (char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || forbidden.find(c) != std::string_view::npos) {
      return false;
    }
  }
  // A byte order mark at the start of the file would be taken away.
  return !text.starts_with("\xEF\xBB\xBF");
}

std::string WriteFile(std::string_view content) {
  const std::string path = vexcomm::fuzz::ScratchDir() + "/case.ini";
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(content.data(), static_cast<std::streamsize>(content.size()));
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const bool built = (data[0] & 1) != 0;
  FuzzedDataProvider provider(data + 1, size - 1);
  const std::string section = provider.ConsumeRandomLengthString(80);
  const std::string key = provider.ConsumeRandomLengthString(80);
  const std::string rest = provider.ConsumeRemainingBytesAsString();

  if (!built) {
    const std::string value = config::LeseIni(WriteFile(rest), section, key, kDefault);
    if (value == kDefault) return 0;
    FUZZ_CHECK(!value.empty());
    FUZZ_CHECK(IsValidUtf8(value));
    FUZZ_CHECK(platform::CodePointCount(value) <= 254);
    // A UTF-8 file gives a value that stands in it.
    if (IsValidUtf8(rest)) FUZZ_CHECK(rest.find(value) != std::string::npos);
    return 0;
  }

  const std::string_view syntax = "[]=;\"' \x7F";
  if (!IsPlain(section, syntax) || !IsPlain(key, syntax) || !IsPlain(rest, "\"' \x7F")) return 0;
  const std::string file = "[" + section + "]\r\n" + key + "=" + rest + "\r\n";
  const std::string value = config::LeseIni(WriteFile(file), section, key, kDefault);
  FUZZ_CHECK(value == platform::CodePointPrefix(rest, 254));
  return 0;
}
