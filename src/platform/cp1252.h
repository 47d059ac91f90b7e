#pragma once

#include <string>
#include <string_view>

namespace vexcomm::platform {

// The wire's code page. UTF-8 text that Windows-1252 cannot hold goes out as "?", one per code
// point, and one per byte of invalid UTF-8. The five bytes Windows-1252 leaves undefined (0x81,
// 0x8D, 0x8F, 0x90, 0x9D) map to U+0081 etc. and back, as Windows does. Both run on every chunk
// of a received file: they are table-driven and allocate once.
std::string Utf8ToCp1252(std::string_view utf8);
std::string Cp1252ToUtf8(std::string_view bytes);
// Utf8ToCp1252 into `out`, which has room for utf8.size() octets; returns the octets written.
std::size_t Utf8ToCp1252(std::string_view utf8, char* out) noexcept;
// The same, appended to `out`: a reused buffer costs no allocation per chunk.
void AppendCp1252AsUtf8(std::string& out, std::string_view bytes);

}  // namespace vexcomm::platform
