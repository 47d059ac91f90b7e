#include <vexcomm/cls_fehler.h>

namespace vexcomm {

using automation::Args;
using automation::InvokeKind;
using automation::Member;
using automation::Variant;

const std::vector<Member<clsFehler>>& clsFehler::Members() {
  static const std::vector<Member<clsFehler>> members = {
      {"Text", 0x40030000, InvokeKind::PropertyGet, 0,
       [](clsFehler& f, Args) { return Variant(f.Text); }},
      {"Text", 0x40030000, InvokeKind::PropertyPut, 1,
       [](clsFehler& f, Args a) {
         f.Text = a[0].ToString();
         return Variant();
       }},
      {"Code", 0x40030001, InvokeKind::PropertyGet, 0,
       [](clsFehler& f, Args) { return Variant(f.Code); }},
      {"Code", 0x40030001, InvokeKind::PropertyPut, 1,
       [](clsFehler& f, Args a) {
         f.Code = a[0].ToInt32();
         return Variant();
       }},
  };
  return members;
}

std::span<const std::string_view> clsFehler::InterfaceIds() {
  static constexpr std::string_view ids[] = {kIid};
  return ids;
}

}  // namespace vexcomm
