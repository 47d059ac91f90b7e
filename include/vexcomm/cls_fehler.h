#pragma once

#include <cstdint>
#include <string>

#include <vexcomm/dispatch.h>
#include <vexcomm/export.h>

namespace vexcomm {

// Reason codes of clsFehler.Code. Code may also hold an error number the server sent.
enum vexCommFehler : int32_t {
  vcerrNoError = 0,
  vcerrNoConnection = 1,
  vcerrOther = 2,
  vcerrKundeNotFound = 5,
  vcerrDisconnect = 8,
  vcerrSuccess = 10,
  vcerrCritical = 999,
};

// The outcome of the last Send: Code is reset at each Send, Text only when overwritten.
class VEXCOMM_EXPORT clsFehler : public automation::DispatchObject<clsFehler> {
 public:
  static constexpr std::string_view kTypeName = "clsFehler";
  static constexpr std::string_view kClsid = "{1F2158DB-D70E-4E3C-8268-E74688ABA9F8}";
  static constexpr std::string_view kIid = "{5FCF3DD8-A7EF-47B3-BF7E-34BF132A9BD4}";
  static const std::vector<automation::Member<clsFehler>>& Members();
  static std::span<const std::string_view> InterfaceIds();

  std::string Text;
  int32_t Code = vcerrNoError;
};

}  // namespace vexcomm
