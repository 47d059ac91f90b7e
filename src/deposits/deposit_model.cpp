#include <type_traits>

#include <vexcomm/deposits.h>
#include <vexcomm/error.h>

namespace vexcomm {

using automation::Args;
using automation::DispId;
using automation::InvokeKind;
using automation::Member;
using automation::Variant;

namespace {

// A read-write property: get before put, as in the slot order.
template <class T, class F>
void Property(std::vector<Member<T>>& members, std::string_view name, DispId id, F T::*field) {
  members.push_back({name, id, InvokeKind::PropertyGet, 0,
                     [field](T& self, Args) -> Variant { return Variant(self.*field); }});
  members.push_back({name, id, InvokeKind::PropertyPut, 1, [field](T& self, Args args) -> Variant {
                       if constexpr (std::is_same_v<F, std::string>) {
                         self.*field = args[0].ToString();
                       } else if constexpr (std::is_same_v<F, bool>) {
                         self.*field = args[0].ToBool();
                       } else {
                         self.*field = args[0].ToInt32();
                       }
                       return {};
                     }});
}

template <class T>
void Method(std::vector<Member<T>>& members, std::string_view name, DispId id,
            std::size_t arg_count, std::function<Variant(T&, Args)> call) {
  members.push_back({name, id, InvokeKind::Method, arg_count, std::move(call)});
}

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
void ListMembers(std::vector<Member<List>>& members, DispId item_id) {
  Method<List>(members, "Count", 0x60030001, 0,
               [](List& self, Args) -> Variant { return Variant(self.Count()); });
  Method<List>(members, "Add", 0x60030002, 1, [](List& self, Args args) -> Variant {
    self.Add(ItemArgument<ItemT>(args[0]));
    return {};
  });
  Method<List>(members, "Item", item_id, 1, [](List& self, Args args) -> Variant {
    return Variant(std::shared_ptr<automation::Dispatch>(self.Item(args[0].ToInt32())));
  });
}

}  // namespace

// clsTGZins

const std::vector<Member<clsTGZins>>& clsTGZins::Members() {
  static const std::vector<Member<clsTGZins>> members = [] {
    std::vector<Member<clsTGZins>> m;
    Property(m, "AbBetrag", 0x40030000, &clsTGZins::AbBetrag);
    Property(m, "ZinsAnfang", 0x40030001, &clsTGZins::ZinsAnfang);
    Property(m, "GueltigZinsAnfang", 0x40030002, &clsTGZins::GueltigZinsAnfang);
    Property(m, "ZinsDanach", 0x40030003, &clsTGZins::ZinsDanach);
    Property(m, "GueltigZinsDanach", 0x40030004, &clsTGZins::GueltigZinsDanach);
    return m;
  }();
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
  static const std::vector<Member<clsFGZins>> members = [] {
    std::vector<Member<clsFGZins>> m;
    Property(m, "AbBetrag", 0x40030000, &clsFGZins::AbBetrag);
    Property(m, "Zins_01", 0x40030001, &clsFGZins::Zins_01);
    Property(m, "Zins_03", 0x40030002, &clsFGZins::Zins_03);
    Property(m, "Zins_06", 0x40030003, &clsFGZins::Zins_06);
    Property(m, "Zins_09", 0x40030004, &clsFGZins::Zins_09);
    Property(m, "Zins_12", 0x40030005, &clsFGZins::Zins_12);
    Property(m, "Zins_18", 0x40030006, &clsFGZins::Zins_18);
    return m;
  }();
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
  static const std::vector<Member<colTGZinsen>> members = [] {
    std::vector<Member<colTGZinsen>> m;
    ListMembers<colTGZinsen, clsTGZins>(m, automation::kDispIdValue);
    return m;
  }();
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
  static const std::vector<Member<colFGZinsen>> members = [] {
    std::vector<Member<colFGZinsen>> m;
    // Item has an id of its own here: late-bound callers cannot leave it out.
    ListMembers<colFGZinsen, clsFGZins>(m, 0x60030003);
    return m;
  }();
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
  static const std::vector<Member<clsTGProdukt>> members = [] {
    std::vector<Member<clsTGProdukt>> m;
    Property(m, "Name", 0x40030001, &clsTGProdukt::Name);
    Property(m, "MindestAnlage", 0x40030002, &clsTGProdukt::MindestAnlage);
    Property(m, "MaximalAnlage", 0x40030003, &clsTGProdukt::MaximalAnlage);
    Property(m, "Gutschrift", 0x40030004, &clsTGProdukt::Gutschrift);
    Property(m, "Neukunde", 0x40030005, &clsTGProdukt::Neukunde);
    Property(m, "URLInfo", 0x40030006, &clsTGProdukt::URLInfo);
    Property(m, "URLNeu", 0x40030007, &clsTGProdukt::URLNeu);
    Method<clsTGProdukt>(m, "Clear", 0x60030000, 0, [](clsTGProdukt& self, Args) -> Variant {
      self.Clear();
      return {};
    });
    Method<clsTGProdukt>(m, "Zinsen", 0x60030001, 0, [](clsTGProdukt& self, Args) -> Variant {
      return Variant(std::shared_ptr<automation::Dispatch>(self.Zinsen()));
    });
    Method<clsTGProdukt>(
        m, "ZinsenFestgeld", 0x60030002, 0, [](clsTGProdukt& self, Args) -> Variant {
          return Variant(std::shared_ptr<automation::Dispatch>(self.ZinsenFestgeld()));
        });
    Property(m, "ZinsGueltigkeit", 0x4003000A, &clsTGProdukt::ZinsGueltigkeit);
    return m;
  }();
  return members;
}

std::span<const std::string_view> clsTGProdukt::InterfaceIds() {
  static constexpr std::string_view ids[] = {kIid, kIidEarlier1, kIidEarlier2};
  return ids;
}

std::shared_ptr<clsTGProdukt> clsTGProdukt::Create() {
  return std::make_shared<clsTGProdukt>();
}

void clsTGProdukt::Clear() noexcept {
  if (zinsen_) zinsen_->Clear();
  if (zinsen_festgeld_) zinsen_festgeld_->Clear();
}

const std::shared_ptr<colTGZinsen>& clsTGProdukt::Zinsen() const {
  if (!zinsen_) zinsen_ = colTGZinsen::Create();
  return zinsen_;
}

const std::shared_ptr<colFGZinsen>& clsTGProdukt::ZinsenFestgeld() const {
  if (!zinsen_festgeld_) zinsen_festgeld_ = colFGZinsen::Create();
  return zinsen_festgeld_;
}

// colTGProdukte

const std::vector<Member<colTGProdukte>>& colTGProdukte::Members() {
  static const std::vector<Member<colTGProdukte>> members = [] {
    std::vector<Member<colTGProdukte>> m;
    ListMembers<colTGProdukte, clsTGProdukt>(m, automation::kDispIdValue);
    return m;
  }();
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
  static const std::vector<Member<clsTGAnbieter>> members = [] {
    std::vector<Member<clsTGAnbieter>> m;
    Property(m, "Name", 0x40030001, &clsTGAnbieter::Name);
    Property(m, "BLZ", 0x40030002, &clsTGAnbieter::BLZ);
    Method<clsTGAnbieter>(m, "Clear", 0x60030000, 0, [](clsTGAnbieter& self, Args) -> Variant {
      self.Clear();
      return {};
    });
    Method<clsTGAnbieter>(m, "Produkte", 0x60030001, 0, [](clsTGAnbieter& self, Args) -> Variant {
      return Variant(std::shared_ptr<automation::Dispatch>(self.Produkte()));
    });
    return m;
  }();
  return members;
}

std::span<const std::string_view> clsTGAnbieter::InterfaceIds() {
  static constexpr std::string_view ids[] = {kIid};
  return ids;
}

std::shared_ptr<clsTGAnbieter> clsTGAnbieter::Create() {
  return std::make_shared<clsTGAnbieter>();
}

void clsTGAnbieter::Clear() noexcept {
  if (produkte_) produkte_->Clear();
}

const std::shared_ptr<colTGProdukte>& clsTGAnbieter::Produkte() const {
  if (!produkte_) produkte_ = colTGProdukte::Create();
  return produkte_;
}

// colTGAnbieter

const std::vector<Member<colTGAnbieter>>& colTGAnbieter::Members() {
  static const std::vector<Member<colTGAnbieter>> members = [] {
    std::vector<Member<colTGAnbieter>> m;
    Method<colTGAnbieter>(m, "Clear", 0x60030000, 0, [](colTGAnbieter& self, Args) -> Variant {
      self.Clear();
      return {};
    });
    ListMembers<colTGAnbieter, clsTGAnbieter>(m, automation::kDispIdValue);
    return m;
  }();
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
  static const std::vector<Member<clsTagesgeld>> members = [] {
    std::vector<Member<clsTagesgeld>> m;
    Property(m, "Datum", 0x40030001, &clsTagesgeld::Datum);
    Method<clsTagesgeld>(m, "Anbieter", 0x60030000, 0, [](clsTagesgeld& self, Args) -> Variant {
      return Variant(std::shared_ptr<automation::Dispatch>(self.Anbieter()));
    });
    return m;
  }();
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
