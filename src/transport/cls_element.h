#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <vexcomm/dispatch.h>

namespace vexcomm::transport {

// The elements of the most recent reply, numbered from 1. Reading a number that is not there
// gives empty text, never an error.
class clsElement : public automation::DispatchObject<clsElement> {
 public:
  static constexpr std::string_view kTypeName = "clsElement";
  static constexpr std::string_view kIid = "{556FEF53-A4C2-4734-ABA7-1081DB219055}";
  static constexpr std::string_view kClsid = "{C929C394-6C9E-4F4C-9902-26074C02BDCD}";
  static const std::vector<automation::Member<clsElement>>& Members();
  static std::span<const std::string_view> InterfaceIds();

  const std::string& Item(int32_t index) const noexcept;  // empty text outside 1..Count
  int32_t Count() const noexcept;

  // Internal: not on the late-bound surface.
  void Add(std::string text);
  void Clear() noexcept;
  // Moves an element out (it reads as empty text afterwards): a file's content is handed on
  // without a copy. Empty text outside 1..Count.
  std::string Take(int32_t index) noexcept;

 private:
  std::vector<std::string> items_;
};

}  // namespace vexcomm::transport
