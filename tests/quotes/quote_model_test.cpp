#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <vexcomm/error.h>
#include <vexcomm/quotes.h>

#include "quotes/quote_internals.h"
#include "services/run_cursor.h"
#include "support/error_of.h"

namespace vexcomm {
namespace {

using vexcomm::detail::QuoteInternals;

using automation::DispId;
using automation::InvokeKind;
using automation::Variant;

TEST(QuoteModelTest, OutOfRangeGivesNoObjectWithoutError) {
  auto aktien = std::make_shared<colAktien>();
  EXPECT_EQ(aktien->Count(), 0);
  EXPECT_FALSE(aktien->WriteDB);
  auto stock = aktien->Add("1", "I", "N");
  stock->KursAdd("01.01.2024", "1,5");
  for (int32_t index : {-1, 0, 2, 1000}) {
    EXPECT_EQ(aktien->Item(index), nullptr) << index;
    EXPECT_EQ(stock->Kurs(index), nullptr) << index;
    // Late bound: an empty object, not an error.
    Variant item = aktien->Call("Item", {Variant(index)});
    EXPECT_EQ(item.type(), automation::VarType::Object);
    EXPECT_EQ(item.ToObject(), nullptr);
    EXPECT_EQ(stock->Call("Kurs", {Variant(index)}).ToObject(), nullptr);
  }
  EXPECT_EQ(aktien->Item(1), stock);
  EXPECT_EQ(stock->Kurs(1)->Kurs, "1,5");
}

TEST(QuoteModelTest, StockPositionNeverReadsBelowOneAndIsResetByFilling) {
  colAktien aktien;
  services::RunCursor cursor;
  EXPECT_EQ(cursor.StockPosition(aktien), 1);  // a fresh one starts at the first stock
  const std::pair<const char*, std::function<void()>> resets[] = {
      {"Add", [&] { aktien.Add("2", "", ""); }},
      {"AddFromDB", [&] { QuoteInternals::AddFromDB(aktien, 7, "3", "", ""); }},
      {"Clear", [&] { aktien.Clear(); }},
  };
  for (const auto& [what, change] : resets) {
    cursor.SetStockPosition(aktien, 5);
    change();
    EXPECT_EQ(cursor.StockPosition(aktien), 1) << what;
  }
  for (int32_t stored : {0, -3}) {
    cursor.SetStockPosition(aktien, stored);
    EXPECT_EQ(cursor.StockPosition(aktien), 1);
  }
  // Nothing else moves it: reading, Item and Count leave a later position alone.
  aktien.Add("a", "", "");
  cursor.SetStockPosition(aktien, 3);
  aktien.Item(1);
  aktien.Count();
  EXPECT_EQ(cursor.StockPosition(aktien), 3);
  // A position is its collection's: another one, even fresh, starts at the first stock.
  EXPECT_EQ(cursor.StockPosition(colAktien()), 1);
}

TEST(QuoteModelTest, ClearingKeepsWhatTheHostHolds) {
  colAktien aktien;
  auto first = aktien.Add("710000", "DE0007100000", "Daimler");
  auto quote = first->KursAdd("02.01.2024", "50");
  first->KursAdd("02.01.2024", "51");  // the list keeps duplicate dates
  EXPECT_EQ(first->KursCount(), 2);
  first->VonDatum = "01.01.2024";
  first->BisDatum = "31.01.2024";
  aktien.Add("2", "", "");

  aktien.Clear();
  EXPECT_EQ(aktien.Count(), 0);
  EXPECT_EQ(first->WKN, "710000");
  EXPECT_EQ(first->VonDatum, "01.01.2024");
  EXPECT_EQ(first->BisDatum, "31.01.2024");
  EXPECT_EQ(first->KursCount(), 0);
  EXPECT_EQ(quote->Kurs, "50");  // a quote the host holds outlives its list
}

TEST(QuoteModelTest, AddAndAddFromDBFillInOrder) {
  colAktien aktien;
  auto made = aktien.Add("W", "I", "N");
  EXPECT_EQ(made->ID, 0);
  EXPECT_EQ(QuoteInternals::DBID(*made), 0);
  EXPECT_TRUE(made->VonDatum.empty());
  auto loaded = QuoteInternals::AddFromDB(aktien, 42, "W2", "I2", "N2");
  EXPECT_EQ(loaded->ID, 42);
  EXPECT_EQ(QuoteInternals::DBID(*loaded), 0);  // only ReadDB sets the row DeleteFromDB uses
  EXPECT_EQ(loaded->Name, "N2");
  EXPECT_EQ(aktien.Item(2), loaded);
}

// Each member of a class's late-bound table in slot order: name, id, kind, argument count.
struct Slot {
  std::string_view name;
  DispId id;
  InvokeKind kind;
  std::size_t args;
  friend bool operator==(const Slot&, const Slot&) = default;
};

template <class T>
std::vector<Slot> SlotsOf() {
  std::vector<Slot> slots;
  for (const auto& m : T::Members()) slots.push_back({m.name, m.id, m.kind, m.arg_count});
  return slots;
}

void PrintTo(const Slot& s, std::ostream* os) {
  *os << s.name << "/" << std::hex << s.id << "/" << static_cast<int>(s.kind) << "/" << s.args;
}

constexpr auto Get = InvokeKind::PropertyGet;
constexpr auto Put = InvokeKind::PropertyPut;
constexpr auto Method = InvokeKind::Method;

TEST(QuoteModelTest, LateBoundTablesInSlotOrder) {
  EXPECT_EQ(SlotsOf<colAktien>(), (std::vector<Slot>{{"WriteDB", 0x40030003, Get, 0},
                                                     {"WriteDB", 0x40030003, Put, 1},
                                                     {"Clear", 0x60030002, Method, 0},
                                                     {"Count", 0x60030003, Method, 0},
                                                     {"Add", 0x60030004, Method, 3},
                                                     {"Item", 0x60030005, Method, 1},
                                                     {"ReadDB", 0x60030009, Method, 0}}));
  EXPECT_EQ(SlotsOf<clsAktie>(), (std::vector<Slot>{{"WKN", 0x40030001, Get, 0},
                                                    {"WKN", 0x40030001, Put, 1},
                                                    {"ISIN", 0x40030002, Get, 0},
                                                    {"ISIN", 0x40030002, Put, 1},
                                                    {"Name", 0x40030003, Get, 0},
                                                    {"Name", 0x40030003, Put, 1},
                                                    {"VonDatum", 0x40030004, Get, 0},
                                                    {"VonDatum", 0x40030004, Put, 1},
                                                    {"BisDatum", 0x40030005, Get, 0},
                                                    {"BisDatum", 0x40030005, Put, 1},
                                                    {"Clear", 0x60030001, Method, 0},
                                                    {"KursCount", 0x60030002, Method, 0},
                                                    {"DeleteFromDB", 0x60030003, Method, 0},
                                                    {"KursAdd", 0x60030004, Method, 2},
                                                    {"Kurs", 0x60030005, Method, 1},
                                                    {"ID", 0x40030007, Get, 0},
                                                    {"ID", 0x40030007, Put, 1}}));
  EXPECT_EQ(SlotsOf<clsKurs>(), (std::vector<Slot>{{"Datum", 0x40030000, Get, 0},
                                                   {"Datum", 0x40030000, Put, 1},
                                                   {"Kurs", 0x40030001, Get, 0},
                                                   {"Kurs", 0x40030001, Put, 1}}));
}

TEST(QuoteModelTest, LateBoundCallsReachTheTypedMembers) {
  RegisterQuoteClasses();
  auto aktien = automation::CreateRegisteredObject("VexComm5.colAktien");
  ASSERT_TRUE(aktien);
  aktien->Put("writedb", Variant(true));
  EXPECT_TRUE(aktien->Get("WriteDB").ToBool());
  auto stock =
      aktien->Call("Add", {Variant("710000"), Variant("DE1"), Variant("Daimler")}).ToObject();
  ASSERT_TRUE(stock);
  stock->Call("KursAdd", {Variant("02.01.2024"), Variant("50,1")});
  auto quote = stock->Call("Kurs", {Variant(int32_t{1})}).ToObject();
  EXPECT_EQ(quote->Get("Kurs").ToString(), "50,1");
  stock->Put("ID", Variant(int32_t{9}));
  EXPECT_EQ(stock->Get("ID").ToInt32(), 9);
  EXPECT_EQ(aktien->Call("Count").ToInt32(), 1);
  // No member is the default member.
  EXPECT_FALSE(aktien->GetIdOfName("_NewEnum"));
  EXPECT_THROW(aktien->Invoke(automation::kDispIdValue, Method, {}), Error);
  // Internal members stay off the late-bound surface.
  for (std::string_view internal : {"CurrentIndex", "LastDateOnly", "AddFromDB", "WriteToDB"})
    EXPECT_FALSE(aktien->GetIdOfName(internal)) << internal;
  EXPECT_FALSE(stock->GetIdOfName("DBID"));
  EXPECT_EQ(test::ErrorOf([&] { aktien->Call("Item", {}); }), errnum::kWrongArgumentCount);
}

TEST(QuoteModelTest, AnswersItsInterfaceIds) {
  EXPECT_TRUE(std::make_shared<colAktien>()->Supports(colAktien::kIid));
  EXPECT_FALSE(std::make_shared<colAktien>()->Supports(clsAktie::kIid));
  EXPECT_TRUE(std::make_shared<clsKurs>()->Supports(clsKurs::kIid));
  for (auto id : {clsAktie::kIid, std::string_view("{b4fa3596-42aa-42fb-b526-781a833be552}"),
                  automation::kIidDispatch}) {
    EXPECT_TRUE(std::make_shared<clsAktie>()->Supports(id)) << id;
  }
}

}  // namespace
}  // namespace vexcomm
