#pragma once

#include <chrono>
#include <cstddef>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "vexmsg-server/lib/request_reader.h"

// Helpers shared by the request handlers: request fields, scenario sections read at request
// time, and dates as the service writes them.
namespace vexmsg {

// Field i of a request (0 is the first after the code); empty when the request has fewer.
std::string_view RequestField(const RequestFrame& request, std::size_t i);

// A scenario section that cannot be served. Answer() turns it into AIERR with `what()`, which
// names the place, so a faulty scenario shows up in the client's error record.
class SectionError : public std::runtime_error {
 public:
  SectionError(const std::string& where, const std::string& what)
      : std::runtime_error("scenario " + where + " - " + what) {}
};

// A scenario value as text: a string, or a whole number written in decimal. Characters in
// `forbidden` are refused: the protocol has no escaping.
std::string ValueText(const nlohmann::json& value, const std::string& where,
                      std::string_view forbidden);

// A text member of a section object, as ValueText; an absent member gives `fallback`.
std::string SectionText(const nlohmann::json& object, const char* key, const std::string& where,
                        std::string_view forbidden, std::string fallback = {});

// The array member `key` of a section object; absent gives an empty array.
const nlohmann::json& SectionArray(const nlohmann::json& object, const char* key,
                                   const std::string& where);

// "DD.MM.YYYY" (day and month may have one digit) or "YYYY-MM-DD"; nullopt for anything else,
// including dates that do not exist.
std::optional<std::chrono::sys_days> ParseDate(std::string_view text);

}  // namespace vexmsg
