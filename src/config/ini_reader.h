#pragma once

#include <string>

namespace vexcomm::config {

// The profile-string lookup of a Windows INI file: section and key compared case-insensitively,
// the first matching section and key win, blanks around the value and one pair of matching
// enclosing quotes removed, the value cut to 254 characters. An empty value, a missing file,
// section or key, and a file that cannot be read or is not text all give `default_value`.
std::string LeseIni(const std::string& path, const std::string& section, const std::string& key,
                    const std::string& default_value);

// The server to connect to: "IP" of section "Comm" in ini_dir + "MorvaZedi.ini" (ini_dir ends in
// a separator; none is inserted) when that file exists, else the standard host.
struct ServerHost {
  std::string host;
  bool from_ini = false;  // the file exists (the connect step logs the host then)
};
ServerHost SelectServerHost(const std::string& ini_dir, const std::string& standard_host);

// The build's standard server host name.
std::string StandardServerHost();

}  // namespace vexcomm::config
