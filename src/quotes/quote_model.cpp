#include <vexcomm/quotes.h>

namespace vexcomm {

using automation::Args;
using automation::Dispatch;
using automation::InvokeKind;
using automation::Member;
using automation::Variant;

namespace {

Variant AsObject(std::shared_ptr<Dispatch> object) {
  return Variant(std::move(object));
}

// A read-write text property: get before put, as in the slot order.
template <class T>
void AddTextProperty(std::vector<Member<T>>& members, std::string_view name, automation::DispId id,
                     std::string T::*field) {
  members.push_back({name, id, InvokeKind::PropertyGet, 0,
                     [field](T& object, Args) { return Variant(object.*field); }});
  members.push_back({name, id, InvokeKind::PropertyPut, 1, [field](T& object, Args a) {
                       object.*field = a[0].ToString();
                       return Variant();
                     }});
}

}  // namespace

// clsKurs

const std::vector<Member<clsKurs>>& clsKurs::Members() {
  static const std::vector<Member<clsKurs>> members = [] {
    std::vector<Member<clsKurs>> m;
    AddTextProperty(m, "Datum", 0x40030000, &clsKurs::Datum);
    AddTextProperty(m, "Kurs", 0x40030001, &clsKurs::Kurs);
    return m;
  }();
  return members;
}

std::span<const std::string_view> clsKurs::InterfaceIds() {
  static constexpr std::string_view ids[] = {kIid};
  return ids;
}

// clsAktie

clsAktie::clsAktie() : context_(std::make_shared<const QuoteDbContext>()) {}

clsAktie::clsAktie(std::shared_ptr<const QuoteDbContext> context) : context_(std::move(context)) {}

const std::vector<Member<clsAktie>>& clsAktie::Members() {
  static const std::vector<Member<clsAktie>> members = [] {
    std::vector<Member<clsAktie>> m;
    AddTextProperty(m, "WKN", 0x40030001, &clsAktie::WKN);
    AddTextProperty(m, "ISIN", 0x40030002, &clsAktie::ISIN);
    AddTextProperty(m, "Name", 0x40030003, &clsAktie::Name);
    AddTextProperty(m, "VonDatum", 0x40030004, &clsAktie::VonDatum);
    AddTextProperty(m, "BisDatum", 0x40030005, &clsAktie::BisDatum);
    m.push_back({"Clear", 0x60030001, InvokeKind::Method, 0, [](clsAktie& s, Args) {
                   s.Clear();
                   return Variant();
                 }});
    m.push_back({"KursCount", 0x60030002, InvokeKind::Method, 0,
                 [](clsAktie& s, Args) { return Variant(s.KursCount()); }});
    m.push_back({"DeleteFromDB", 0x60030003, InvokeKind::Method, 0,
                 [](clsAktie& s, Args) { return Variant(s.DeleteFromDB()); }});
    m.push_back({"KursAdd", 0x60030004, InvokeKind::Method, 2, [](clsAktie& s, Args a) {
                   return AsObject(s.KursAdd(a[0].ToString(), a[1].ToString()));
                 }});
    m.push_back({"Kurs", 0x60030005, InvokeKind::Method, 1,
                 [](clsAktie& s, Args a) { return AsObject(s.Kurs(a[0].ToInt32())); }});
    m.push_back({"ID", 0x40030007, InvokeKind::PropertyGet, 0,
                 [](clsAktie& s, Args) { return Variant(s.ID); }});
    m.push_back({"ID", 0x40030007, InvokeKind::PropertyPut, 1, [](clsAktie& s, Args a) {
                   s.ID = a[0].ToInt32();
                   return Variant();
                 }});
    return m;
  }();
  return members;
}

std::span<const std::string_view> clsAktie::InterfaceIds() {
  static constexpr std::string_view ids[] = {kIid, kIidEarlier};
  return ids;
}

void clsAktie::Clear() noexcept {
  while (!quotes_.empty()) quotes_.pop_back();
}

int32_t clsAktie::KursCount() const noexcept {
  return static_cast<int32_t>(quotes_.size());
}

std::shared_ptr<clsKurs> clsAktie::KursAdd(std::string Datum, std::string Kurs) {
  auto quote = std::make_shared<clsKurs>();
  quote->Datum = std::move(Datum);
  quote->Kurs = std::move(Kurs);
  quotes_.push_back(quote);
  return quote;
}

std::shared_ptr<clsKurs> clsAktie::Kurs(int32_t index) const noexcept {
  if (index < 1 || index > KursCount()) return nullptr;
  return quotes_[static_cast<std::size_t>(index - 1)];
}

// colAktien

colAktien::colAktien() : context_(std::make_shared<QuoteDbContext>()) {}

const std::vector<Member<colAktien>>& colAktien::Members() {
  static const std::vector<Member<colAktien>> members = {
      {"WriteDB", 0x40030003, InvokeKind::PropertyGet, 0,
       [](colAktien& c, Args) { return Variant(c.WriteDB); }},
      {"WriteDB", 0x40030003, InvokeKind::PropertyPut, 1,
       [](colAktien& c, Args a) {
         c.WriteDB = a[0].ToBool();
         return Variant();
       }},
      {"Clear", 0x60030002, InvokeKind::Method, 0,
       [](colAktien& c, Args) {
         c.Clear();
         return Variant();
       }},
      {"Count", 0x60030003, InvokeKind::Method, 0,
       [](colAktien& c, Args) { return Variant(c.Count()); }},
      {"Add", 0x60030004, InvokeKind::Method, 3,
       [](colAktien& c, Args a) {
         return AsObject(c.Add(a[0].ToString(), a[1].ToString(), a[2].ToString()));
       }},
      {"Item", 0x60030005, InvokeKind::Method, 1,
       [](colAktien& c, Args a) { return AsObject(c.Item(a[0].ToInt32())); }},
      {"ReadDB", 0x60030009, InvokeKind::Method, 0,
       [](colAktien& c, Args) { return Variant(c.ReadDB()); }},
  };
  return members;
}

std::span<const std::string_view> colAktien::InterfaceIds() {
  static constexpr std::string_view ids[] = {kIid};
  return ids;
}

void colAktien::Clear() noexcept {
  // From the end: a stock the host still holds keeps its properties but loses its quotes.
  while (!stocks_.empty()) {
    stocks_.back()->Clear();
    stocks_.pop_back();
  }
  current_index_ = 0;
}

int32_t colAktien::Count() const noexcept {
  return static_cast<int32_t>(stocks_.size());
}

std::shared_ptr<clsAktie> colAktien::Add(std::string WKN, std::string ISIN, std::string Name) {
  auto stock = std::make_shared<clsAktie>(context_);
  stock->WKN = std::move(WKN);
  stock->ISIN = std::move(ISIN);
  stock->Name = std::move(Name);
  stocks_.push_back(stock);
  current_index_ = 0;
  return stock;
}

std::shared_ptr<clsAktie> colAktien::Item(int32_t index) const noexcept {
  if (index < 1 || index > Count()) return nullptr;
  return stocks_[static_cast<std::size_t>(index - 1)];
}

int32_t colAktien::CurrentIndex() noexcept {
  if (current_index_ < 1) current_index_ = 1;
  return current_index_;
}

std::shared_ptr<clsAktie> colAktien::AddFromDB(int32_t ID, std::string WKN, std::string ISIN,
                                               std::string Name) {
  auto stock = Add(std::move(WKN), std::move(ISIN), std::move(Name));
  stock->ID = ID;
  return stock;
}

void colAktien::SetDatabaseContext(QuoteDbContext context) {
  *context_ = std::move(context);
}

void RegisterQuoteClasses() {
  automation::RegisterClass("VexComm5.colAktien", [] { return std::make_shared<colAktien>(); });
  automation::RegisterClass("VexComm5.clsAktie", [] { return std::make_shared<clsAktie>(); });
}

}  // namespace vexcomm
