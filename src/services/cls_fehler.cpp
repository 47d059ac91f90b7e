#include <vexcomm/cls_fehler.h>

#include "automation/member_table.h"

namespace vexcomm {

using automation::Member;

const std::vector<Member<clsFehler>>& clsFehler::Members() {
  static const std::vector<Member<clsFehler>> members =
      automation::MemberTable<clsFehler>()
          .Property("Text", 0x40030000, &clsFehler::Text)
          .Property("Code", 0x40030001, &clsFehler::Code)
          .Build();
  return members;
}

std::span<const std::string_view> clsFehler::InterfaceIds() {
  static constexpr std::string_view ids[] = {kIid};
  return ids;
}

}  // namespace vexcomm
