#include <vexcomm/deposits.h>
#include <vexcomm/error.h>

#include "automation/member_table.h"
#include "deposits/deposit_internals.h"

namespace vexcomm {

using automation::Args;
using automation::DispId;
using automation::Member;
using automation::MemberTable;
using automation::Variant;

namespace {

// The argument of a late-bound Add: an object of the list's item class.
template <class ItemT>
std::shared_ptr<ItemT> ItemArgument(const Variant& value) {
  std::shared_ptr<automation::Dispatch> object = value.ToObject();
  if (!object) Raise(errnum::kObjectNotSet);
  auto typed = std::dynamic_pointer_cast<ItemT>(object);
  if (!typed) Raise(errnum::kTypeMismatch);
  return typed;
}

// Count, Add and Item, the members the four lists share, in slot order.
template <class List, class ItemT>
MemberTable<List> ListMembers(MemberTable<List> table, DispId item_id) {
  table.Method("Count", 0x60030001, 0, [](List& self, Args) { return self.Count(); })
      .Method("Add", 0x60030002, 1,
              [](List& self, Args args) { self.Add(ItemArgument<ItemT>(args[0])); })
      .Method("Item", item_id, 1,
              [](List& self, Args args) { return self.Item(args[0].ToInt32()); });
  return table;
}

}  // namespace

namespace detail {

std::shared_ptr<void> ArenaOwner(const DepositArena* arena) noexcept {
  return arena ? arena->self.lock() : nullptr;
}

FieldTexts::~FieldTexts() {
  if (owned_) delete[] own_;
}

std::string FieldTexts::Get(std::size_t index) const {
  if (owned_) return index < size_ ? own_[index] : std::string();
  std::string_view rest = size_ != 0 ? std::string_view(view_, size_) : std::string_view();
  for (; index > 0; --index) {
    const auto bar = rest.find('|');
    if (bar == std::string_view::npos) return {};
    rest.remove_prefix(bar + 1);
  }
  return std::string(rest.substr(0, rest.find('|')));
}

void FieldTexts::Set(std::size_t index, std::size_t count, std::string value) {
  if (!owned_) {
    auto own = std::make_unique<std::string[]>(count);
    for (std::size_t i = 0; i < count; ++i) own[i] = Get(i);
    own_ = own.release();
    size_ = static_cast<uint32_t>(count);
    owned_ = true;
  }
  own_[index] = std::move(value);
}

}  // namespace detail

using detail::DepositInternals;

// clsTGZins

const std::vector<Member<clsTGZins>>& clsTGZins::Members() {
  static const std::vector<Member<clsTGZins>> members =
      MemberTable<clsTGZins>()
          .Property("AbBetrag", 0x40030000, &clsTGZins::AbBetrag, &clsTGZins::SetAbBetrag)
          .Property("ZinsAnfang", 0x40030001, &clsTGZins::ZinsAnfang, &clsTGZins::SetZinsAnfang)
          .Property("GueltigZinsAnfang", 0x40030002, &clsTGZins::GueltigZinsAnfang,
                    &clsTGZins::SetGueltigZinsAnfang)
          .Property("ZinsDanach", 0x40030003, &clsTGZins::ZinsDanach, &clsTGZins::SetZinsDanach)
          .Property("GueltigZinsDanach", 0x40030004, &clsTGZins::GueltigZinsDanach,
                    &clsTGZins::SetGueltigZinsDanach)
          .Build();
  return members;
}

std::span<const std::string_view> clsTGZins::InterfaceIds() {
  static constexpr std::string_view ids[] = {kIid};
  return ids;
}

std::shared_ptr<clsTGZins> clsTGZins::Create() {
  return std::make_shared<clsTGZins>();
}

// clsFGZins

const std::vector<Member<clsFGZins>>& clsFGZins::Members() {
  static const std::vector<Member<clsFGZins>> members =
      MemberTable<clsFGZins>()
          .Property("AbBetrag", 0x40030000, &clsFGZins::AbBetrag, &clsFGZins::SetAbBetrag)
          .Property("Zins_01", 0x40030001, &clsFGZins::Zins_01, &clsFGZins::SetZins_01)
          .Property("Zins_03", 0x40030002, &clsFGZins::Zins_03, &clsFGZins::SetZins_03)
          .Property("Zins_06", 0x40030003, &clsFGZins::Zins_06, &clsFGZins::SetZins_06)
          .Property("Zins_09", 0x40030004, &clsFGZins::Zins_09, &clsFGZins::SetZins_09)
          .Property("Zins_12", 0x40030005, &clsFGZins::Zins_12, &clsFGZins::SetZins_12)
          .Property("Zins_18", 0x40030006, &clsFGZins::Zins_18, &clsFGZins::SetZins_18)
          .Build();
  return members;
}

std::span<const std::string_view> clsFGZins::InterfaceIds() {
  static constexpr std::string_view ids[] = {kIid, kIidEarlier};
  return ids;
}

std::shared_ptr<clsFGZins> clsFGZins::Create() {
  return std::make_shared<clsFGZins>();
}

// colTGZinsen

const std::vector<Member<colTGZinsen>>& colTGZinsen::Members() {
  static const std::vector<Member<colTGZinsen>> members =
      ListMembers<colTGZinsen, clsTGZins>(MemberTable<colTGZinsen>(), automation::kDispIdValue)
          .Build();
  return members;
}

std::span<const std::string_view> colTGZinsen::InterfaceIds() {
  static constexpr std::string_view ids[] = {kIid};
  return ids;
}

std::shared_ptr<colTGZinsen> colTGZinsen::Create() {
  return std::make_shared<colTGZinsen>();
}
// colFGZinsen

const std::vector<Member<colFGZinsen>>& colFGZinsen::Members() {
  // Item has an id of its own here: late-bound callers cannot leave it out.
  static const std::vector<Member<colFGZinsen>> members =
      ListMembers<colFGZinsen, clsFGZins>(MemberTable<colFGZinsen>(), 0x60030003).Build();
  return members;
}

std::span<const std::string_view> colFGZinsen::InterfaceIds() {
  static constexpr std::string_view ids[] = {kIid};
  return ids;
}

std::shared_ptr<colFGZinsen> colFGZinsen::Create() {
  return std::make_shared<colFGZinsen>();
}
// clsTGProdukt

const std::vector<Member<clsTGProdukt>>& clsTGProdukt::Members() {
  static const std::vector<Member<clsTGProdukt>> members =
      MemberTable<clsTGProdukt>()
          .Property("Name", 0x40030001, &clsTGProdukt::Name, &clsTGProdukt::SetName)
          .Property("MindestAnlage", 0x40030002, &clsTGProdukt::MindestAnlage,
                    &clsTGProdukt::SetMindestAnlage)
          .Property("MaximalAnlage", 0x40030003, &clsTGProdukt::MaximalAnlage,
                    &clsTGProdukt::SetMaximalAnlage)
          .Property("Gutschrift", 0x40030004, &clsTGProdukt::Gutschrift,
                    &clsTGProdukt::SetGutschrift)
          .Property("Neukunde", 0x40030005, &clsTGProdukt::Neukunde, &clsTGProdukt::SetNeukunde)
          .Property("URLInfo", 0x40030006, &clsTGProdukt::URLInfo, &clsTGProdukt::SetURLInfo)
          .Property("URLNeu", 0x40030007, &clsTGProdukt::URLNeu, &clsTGProdukt::SetURLNeu)
          .Method("Clear", 0x60030000, 0, [](clsTGProdukt& self, Args) { self.Clear(); })
          .Method("Zinsen", 0x60030001, 0, [](clsTGProdukt& self, Args) { return self.Zinsen(); })
          .Method("ZinsenFestgeld", 0x60030002, 0,
                  [](clsTGProdukt& self, Args) { return self.ZinsenFestgeld(); })
          .Property("ZinsGueltigkeit", 0x4003000A, &clsTGProdukt::ZinsGueltigkeit,
                    &clsTGProdukt::SetZinsGueltigkeit)
          .Build();
  return members;
}

std::span<const std::string_view> clsTGProdukt::InterfaceIds() {
  static constexpr std::string_view ids[] = {kIid, kIidEarlier1, kIidEarlier2};
  return ids;
}

std::shared_ptr<clsTGProdukt> clsTGProdukt::Create() {
  return DepositInternals::MakeAlone<clsTGProdukt>();
}

clsTGProdukt::clsTGProdukt(detail::NodeKey, detail::DepositArena* arena) {
  DepositInternals::SetArena(zinsen_, arena);
  DepositInternals::SetArena(zinsen_festgeld_, arena);
}

void clsTGProdukt::Clear() noexcept {
  DepositInternals::Clear(zinsen_);
  DepositInternals::Clear(zinsen_festgeld_);
}

// A list is part of its product: a reference to it keeps the product.
std::shared_ptr<colTGZinsen> clsTGProdukt::Zinsen() const {
  return {detail::ArenaOwner(DepositInternals::Arena(zinsen_)), &zinsen_};
}

std::shared_ptr<colFGZinsen> clsTGProdukt::ZinsenFestgeld() const {
  return {detail::ArenaOwner(DepositInternals::Arena(zinsen_festgeld_)), &zinsen_festgeld_};
}

// colTGProdukte

const std::vector<Member<colTGProdukte>>& colTGProdukte::Members() {
  static const std::vector<Member<colTGProdukte>> members =
      ListMembers<colTGProdukte, clsTGProdukt>(MemberTable<colTGProdukte>(),
                                               automation::kDispIdValue)
          .Build();
  return members;
}

std::span<const std::string_view> colTGProdukte::InterfaceIds() {
  static constexpr std::string_view ids[] = {kIid};
  return ids;
}

std::shared_ptr<colTGProdukte> colTGProdukte::Create() {
  return std::make_shared<colTGProdukte>();
}

// clsTGAnbieter

const std::vector<Member<clsTGAnbieter>>& clsTGAnbieter::Members() {
  static const std::vector<Member<clsTGAnbieter>> members =
      MemberTable<clsTGAnbieter>()
          .Property("Name", 0x40030001, &clsTGAnbieter::Name, &clsTGAnbieter::SetName)
          .Property("BLZ", 0x40030002, &clsTGAnbieter::BLZ, &clsTGAnbieter::SetBLZ)
          .Method("Clear", 0x60030000, 0, [](clsTGAnbieter& self, Args) { self.Clear(); })
          .Method("Produkte", 0x60030001, 0,
                  [](clsTGAnbieter& self, Args) { return self.Produkte(); })
          .Build();
  return members;
}

std::span<const std::string_view> clsTGAnbieter::InterfaceIds() {
  static constexpr std::string_view ids[] = {kIid};
  return ids;
}

std::shared_ptr<clsTGAnbieter> clsTGAnbieter::Create() {
  return DepositInternals::MakeAlone<clsTGAnbieter>();
}

clsTGAnbieter::clsTGAnbieter(detail::NodeKey, detail::DepositArena* arena) {
  DepositInternals::SetArena(produkte_, arena);
}

void clsTGAnbieter::Clear() noexcept {
  DepositInternals::Clear(produkte_);
}

std::shared_ptr<colTGProdukte> clsTGAnbieter::Produkte() const {
  return {detail::ArenaOwner(DepositInternals::Arena(produkte_)), &produkte_};
}

// colTGAnbieter

const std::vector<Member<colTGAnbieter>>& colTGAnbieter::Members() {
  static const std::vector<Member<colTGAnbieter>> members =
      ListMembers<colTGAnbieter, clsTGAnbieter>(
          MemberTable<colTGAnbieter>().Method("Clear", 0x60030000, 0,
                                              [](colTGAnbieter& self, Args) { self.Clear(); }),
          automation::kDispIdValue)
          .Build();
  return members;
}

std::span<const std::string_view> colTGAnbieter::InterfaceIds() {
  static constexpr std::string_view ids[] = {kIid};
  return ids;
}

std::shared_ptr<colTGAnbieter> colTGAnbieter::Create() {
  return std::make_shared<colTGAnbieter>();
}

// clsTagesgeld

clsTagesgeld::clsTagesgeld() : anbieter_(colTGAnbieter::Create()) {}

const std::vector<Member<clsTagesgeld>>& clsTagesgeld::Members() {
  static const std::vector<Member<clsTagesgeld>> members =
      MemberTable<clsTagesgeld>()
          .Property("Datum", 0x40030001, &clsTagesgeld::Datum)
          .Method("Anbieter", 0x60030000, 0,
                  [](clsTagesgeld& self, Args) { return self.Anbieter(); })
          .Build();
  return members;
}

std::span<const std::string_view> clsTagesgeld::InterfaceIds() {
  static constexpr std::string_view ids[] = {kIid};
  return ids;
}

std::shared_ptr<clsTagesgeld> clsTagesgeld::Create() {
  return std::make_shared<clsTagesgeld>();
}

// Registration

void RegisterDepositClasses() {
  using automation::RegisterClass;
  RegisterClass("VexComm5.clsTagesgeld", [] { return clsTagesgeld::Create(); });
  RegisterClass("VexComm5.colTGAnbieter", [] { return colTGAnbieter::Create(); });
  RegisterClass("VexComm5.clsTGAnbieter", [] { return clsTGAnbieter::Create(); });
  RegisterClass("VexComm5.colTGProdukte", [] { return colTGProdukte::Create(); });
  RegisterClass("VexComm5.clsTGProdukt", [] { return clsTGProdukt::Create(); });
  RegisterClass("VexComm5.colTGZinsen", [] { return colTGZinsen::Create(); });
  RegisterClass("VexComm5.clsTGZins", [] { return clsTGZins::Create(); });
  RegisterClass("VexComm5.colFGZinsen", [] { return colFGZinsen::Create(); });
  RegisterClass("VexComm5.clsFGZins", [] { return clsFGZins::Create(); });
}

}  // namespace vexcomm
