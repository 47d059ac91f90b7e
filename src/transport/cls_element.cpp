#include "transport/cls_element.h"

#include "automation/member_table.h"

namespace vexcomm::transport {

namespace {

const std::string& EmptyText() {
  static const std::string empty;
  return empty;
}

}  // namespace

const std::vector<automation::Member<clsElement>>& clsElement::Members() {
  using automation::Args;
  static const std::vector<automation::Member<clsElement>> members =
      automation::MemberTable<clsElement>()
          .Add(automation::InvokeKind::PropertyGet, "Item", automation::kDispIdValue, 1,
               [](clsElement& self, Args args) { return self.Item(args[0].ToInt32()); })
          .Get("Count", 0x68030000, [](clsElement& self) { return self.Count(); })
          .Build();
  return members;
}

std::span<const std::string_view> clsElement::InterfaceIds() {
  static constexpr std::string_view ids[] = {kIid};
  return ids;
}

std::string clsElement::Take(int32_t index) noexcept {
  if (index < 1 || index > Count()) return {};
  return std::move(items_[static_cast<std::size_t>(index) - 1]);
}

const std::string& clsElement::Item(int32_t index) const noexcept {
  if (index < 1 || static_cast<std::size_t>(index) > items_.size()) return EmptyText();
  return items_[static_cast<std::size_t>(index) - 1];
}

int32_t clsElement::Count() const noexcept {
  return static_cast<int32_t>(items_.size());
}

void clsElement::Add(std::string text) {
  items_.push_back(std::move(text));
}

void clsElement::Clear() noexcept {
  items_.clear();
}

}  // namespace vexcomm::transport
