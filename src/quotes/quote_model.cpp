#include <atomic>

#include <vexcomm/quotes.h>

#include "automation/member_table.h"
#include "quotes/quote_internals.h"

namespace vexcomm {

using automation::Args;
using automation::Member;
using automation::MemberTable;

namespace quotes {
namespace {

// One sequence for all collections, so that no two ever share a revision.
uint64_t NextRevision() noexcept {
  static std::atomic<uint64_t> last{0};
  return last.fetch_add(1, std::memory_order_relaxed) + 1;
}

}  // namespace
}  // namespace quotes

// clsKurs

const std::vector<Member<clsKurs>>& clsKurs::Members() {
  static const std::vector<Member<clsKurs>> members =
      MemberTable<clsKurs>()
          .Property("Datum", 0x40030000, &clsKurs::Datum)
          .Property("Kurs", 0x40030001, &clsKurs::Kurs)
          .Build();
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
  static const std::vector<Member<clsAktie>> members =
      MemberTable<clsAktie>()
          .Property("WKN", 0x40030001, &clsAktie::WKN)
          .Property("ISIN", 0x40030002, &clsAktie::ISIN)
          .Property("Name", 0x40030003, &clsAktie::Name)
          .Property("VonDatum", 0x40030004, &clsAktie::VonDatum)
          .Property("BisDatum", 0x40030005, &clsAktie::BisDatum)
          .Method("Clear", 0x60030001, 0, [](clsAktie& self, Args) { self.Clear(); })
          .Method("KursCount", 0x60030002, 0, [](clsAktie& self, Args) { return self.KursCount(); })
          .Method("DeleteFromDB", 0x60030003, 0,
                  [](clsAktie& self, Args) { return self.DeleteFromDB(); })
          .Method(
              "KursAdd", 0x60030004, 2,
              [](clsAktie& self, Args a) { return self.KursAdd(a[0].ToString(), a[1].ToString()); })
          .Method("Kurs", 0x60030005, 1,
                  [](clsAktie& self, Args a) { return self.Kurs(a[0].ToInt32()); })
          .Property("ID", 0x40030007, &clsAktie::ID)
          .Build();
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

colAktien::colAktien()
    : context_(std::make_shared<QuoteDbContext>()), revision_(quotes::NextRevision()) {}

const std::vector<Member<colAktien>>& colAktien::Members() {
  static const std::vector<Member<colAktien>> members =
      MemberTable<colAktien>()
          .Property("WriteDB", 0x40030003, &colAktien::WriteDB)
          .Method("Clear", 0x60030002, 0, [](colAktien& self, Args) { self.Clear(); })
          .Method("Count", 0x60030003, 0, [](colAktien& self, Args) { return self.Count(); })
          .Method("Add", 0x60030004, 3,
                  [](colAktien& self, Args a) {
                    return self.Add(a[0].ToString(), a[1].ToString(), a[2].ToString());
                  })
          .Method("Item", 0x60030005, 1,
                  [](colAktien& self, Args a) { return self.Item(a[0].ToInt32()); })
          .Method("ReadDB", 0x60030009, 0, [](colAktien& self, Args) { return self.ReadDB(); })
          .Build();
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
  revision_ = quotes::NextRevision();
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
  revision_ = quotes::NextRevision();
  return stock;
}

std::shared_ptr<clsAktie> colAktien::Item(int32_t index) const noexcept {
  if (index < 1 || index > Count()) return nullptr;
  return stocks_[static_cast<std::size_t>(index - 1)];
}

std::shared_ptr<clsAktie> detail::QuoteInternals::AddFromDB(colAktien& aktien, int32_t ID,
                                                            std::string WKN, std::string ISIN,
                                                            std::string Name) {
  auto stock = aktien.Add(std::move(WKN), std::move(ISIN), std::move(Name));
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
