#pragma once

#include <string_view>

namespace vexcomm::cli {

// How a received file's content, text as the component hands it over, goes to disk.
enum class SaveAs {
  kOctets,  // the octets the server sent, as the Windows host's files hold them
  kUtf8,    // the text as it is, UTF-8
};

// Text, not data: no control character but tab, line feed, form feed and carriage return, and
// none of the octets Windows-1252 leaves undefined. Only such a file is worth converting.
bool IsText(std::string_view content);

// Writes the content to `fd` as `as` says; false, with errno set, when the disk refuses. The
// octets are made a piece at a time, so a large file is not held twice.
bool WriteContent(int fd, std::string_view content, SaveAs as);

}  // namespace vexcomm::cli
