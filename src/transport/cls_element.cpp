#include "transport/cls_element.h"

#include <array>

namespace vexcomm::transport {

namespace {

const std::string& EmptyText() {
  static const std::string empty;
  return empty;
}

constexpr std::array<std::string_view, 1> kInterfaceIds = {clsElement::kIid};

}  // namespace

const std::vector<automation::Member<clsElement>>& clsElement::Members() {
  using automation::Args;
  using automation::InvokeKind;
  using automation::Variant;
  static const std::vector<automation::Member<clsElement>> members = {
      {"Item", automation::kDispIdValue, InvokeKind::PropertyGet, 1,
       [](clsElement& self, Args args) -> Variant { return self.Item(args[0].ToInt32()); }},
      {"Count", 0x68030000, InvokeKind::PropertyGet, 0,
       [](clsElement& self, Args) -> Variant { return self.Count(); }},
  };
  return members;
}

std::span<const std::string_view> clsElement::InterfaceIds() {
  return kInterfaceIds;
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
