#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <vexcomm/deposits.h>
#include <vexcomm/error.h>

#include "support/error_of.h"

namespace vexcomm {
namespace {

using automation::Dispatch;
using automation::InvokeKind;
using automation::Variant;

std::shared_ptr<Dispatch> AsObject(std::shared_ptr<Dispatch> object) {
  return object;
}

Variant CallDefault(Dispatch& list, int32_t index) {
  std::vector<Variant> args{Variant(index)};
  return list.Invoke(automation::kDispIdValue, InvokeKind::PropertyGet, args);
}

using test::ErrorOf;

// A small tree: two providers, the second with a product holding one tier and one row.
struct Tree {
  std::shared_ptr<clsTagesgeld> root = clsTagesgeld::Create();
  std::shared_ptr<clsTGAnbieter> first = clsTGAnbieter::Create();
  std::shared_ptr<clsTGAnbieter> second = clsTGAnbieter::Create();
  std::shared_ptr<clsTGProdukt> product = clsTGProdukt::Create();
  std::shared_ptr<clsTGZins> tier = clsTGZins::Create();
  std::shared_ptr<clsFGZins> row = clsFGZins::Create();

  Tree() {
    root->Datum = "01.02.2026";
    first->SetName("Bank A");
    second->SetName("Bank B");
    second->SetBLZ("11122233");
    product->SetName("Plus");
    product->SetZinsGueltigkeit("3 Monate");
    tier->SetAbBetrag("0");
    tier->SetGueltigZinsAnfang(3);
    row->SetZins_12("2,1");
    product->Zinsen()->Add(tier);
    product->ZinsenFestgeld()->Add(row);
    second->Produkte()->Add(product);
    root->Anbieter()->Add(first);
    root->Anbieter()->Add(second);
  }
};

TEST(DepositModel, ItemOutsideOneToCountFailsWithSubscriptOutOfRange) {
  Tree t;
  auto tiers = t.product->Zinsen();
  tiers->Add(clsTGZins::Create());
  auto rows = t.product->ZinsenFestgeld();
  rows->Add(clsFGZins::Create());
  auto products = t.second->Produkte();
  products->Add(clsTGProdukt::Create());

  struct Case {
    const char* list;
    std::shared_ptr<Dispatch> object;
    std::function<std::shared_ptr<Dispatch>(int32_t)> item;
    std::shared_ptr<Dispatch> first;
  } const cases[] = {
      {"colTGAnbieter", t.root->Anbieter(),
       [&](int32_t i) { return AsObject(t.root->Anbieter()->Item(i)); }, t.first},
      {"colTGProdukte", products, [&](int32_t i) { return AsObject(products->Item(i)); },
       t.product},
      {"colTGZinsen", tiers, [&](int32_t i) { return AsObject(tiers->Item(i)); }, t.tier},
      {"colFGZinsen", rows, [&](int32_t i) { return AsObject(rows->Item(i)); }, t.row},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.list);
    EXPECT_EQ(c.object->Call("Count").ToInt32(), 2);
    EXPECT_EQ(c.item(1), c.first);
    EXPECT_NE(c.item(2), c.first);
    EXPECT_EQ(c.object->Call("Item", {Variant(int32_t{1})}).ToObject(), c.first);
    for (int32_t bad : {0, 3, -1}) {
      SCOPED_TRACE(bad);
      try {
        c.item(bad);
        ADD_FAILURE() << "typed Item did not fail";
      } catch (const Error& e) {
        EXPECT_EQ(e.number(), errnum::kSubscriptOutOfRange);
        EXPECT_EQ(e.description(), "Subscript out of range");
      }
      EXPECT_EQ(ErrorOf([&] { c.object->Call("Item", {Variant(bad)}); }),
                errnum::kSubscriptOutOfRange);
    }
    EXPECT_EQ(c.object->Call("Count").ToInt32(), 2) << "a failed Item changed the list";
  }
}

// A host walks the trees by the default member (DepositsTlsTest); fixed-term rows have none and
// are reached by Item's own id.
TEST(DepositModel, FixedTermRowsHaveNoDefaultMember) {
  Tree t;
  auto rows = t.product->ZinsenFestgeld();
  EXPECT_EQ(ErrorOf([&] { CallDefault(*rows, 1); }), errnum::kMemberNotFound);
  EXPECT_EQ(rows->IdOf("Item"), 0x60030003);
  std::vector<Variant> args{Variant(int32_t{1})};
  EXPECT_EQ(rows->Invoke(0x60030003, InvokeKind::Method, args).ToObject(), t.row);
}

TEST(DepositModel, ClassesAnswerTheEarlierInterfaceIdsListedForThem) {
  auto produkt = clsTGProdukt::Create();
  auto row = clsFGZins::Create();
  auto tier = clsTGZins::Create();
  EXPECT_TRUE(produkt->Supports("{dc22c819-82d3-4c03-811a-9e54d5139840}"));
  EXPECT_TRUE(produkt->Supports("{51A18701-FE5E-4291-9FC5-E1E0AFD460A2}"));
  EXPECT_TRUE(produkt->Supports("{436CE2FB-67BB-47B4-9114-B1F706EB017C}"));
  EXPECT_TRUE(row->Supports("{4D023A67-488B-4444-B238-9796C4E3ADC0}"));
  EXPECT_FALSE(tier->Supports("{4D023A67-488B-4444-B238-9796C4E3ADC0}"));
  EXPECT_FALSE(tier->Supports(clsTGProdukt::kIid));
}

TEST(DepositModel, ChildListsAreTheSameObjectsForTheNodesLife) {
  Tree t;
  auto root = AsObject(t.root);
  EXPECT_EQ(root->Call("Anbieter").ToObject(), root->Call("Anbieter").ToObject());
  EXPECT_EQ(t.second->Get("Produkte").ToObject(), AsObject(t.second->Produkte()));
  t.root->Anbieter()->Clear();
  EXPECT_EQ(t.product->Call("Zinsen").ToObject(), AsObject(t.product->Zinsen()));
  EXPECT_EQ(t.product->Call("ZinsenFestgeld").ToObject(), AsObject(t.product->ZinsenFestgeld()));
  EXPECT_NE(AsObject(t.product->Zinsen()), AsObject(clsTGProdukt::Create()->Zinsen()));
}

TEST(DepositModel, ClearEmptiesTheTreeButHeldNodesKeepTheirOwnProperties) {
  Tree t;
  std::weak_ptr<clsTGAnbieter> dropped = t.first;
  t.first.reset();

  AsObject(t.root->Anbieter())->Call("Clear");
  EXPECT_EQ(t.root->Anbieter()->Count(), 0);
  EXPECT_TRUE(dropped.expired()) << "the list let go of its provider";
  EXPECT_EQ(t.root->Datum, "01.02.2026");

  EXPECT_EQ(t.second->Get("Name").ToString(), "Bank B");
  EXPECT_EQ(t.second->Get("BLZ").ToString(), "11122233");
  EXPECT_EQ(t.second->Produkte()->Count(), 0);
  EXPECT_EQ(t.product->Name(), "Plus");
  EXPECT_EQ(t.product->ZinsGueltigkeit(), "3 Monate");
  EXPECT_EQ(t.product->Zinsen()->Count(), 0);
  EXPECT_EQ(t.product->ZinsenFestgeld()->Count(), 0);
  EXPECT_EQ(t.tier->GueltigZinsAnfang(), 3);
  EXPECT_EQ(t.row->Zins_12(), "2,1");

  AsObject(t.root->Anbieter())->Call("Clear");  // empty: nothing to do, no failure
  EXPECT_EQ(t.root->Anbieter()->Count(), 0);
}

TEST(DepositModel, NodeClearEmptiesOnlyItsOwnLists) {
  Tree t;
  auto other = clsTGProdukt::Create();
  other->Zinsen()->Add(clsTGZins::Create());
  t.second->Produkte()->Add(other);

  t.product->Call("Clear");
  EXPECT_EQ(t.product->Zinsen()->Count(), 0);
  EXPECT_EQ(t.product->ZinsenFestgeld()->Count(), 0);
  EXPECT_EQ(t.second->Produkte()->Count(), 2);
  EXPECT_EQ(other->Zinsen()->Count(), 1);

  t.second->Call("Clear");
  EXPECT_EQ(t.second->Produkte()->Count(), 0);
  EXPECT_EQ(other->Zinsen()->Count(), 0) << "a provider's Clear cascades to its products";
  EXPECT_EQ(t.root->Anbieter()->Count(), 2);
  EXPECT_EQ(t.second->Name(), "Bank B");

  // Only the provider list offers Clear to the host; the others clear through their owner.
  for (std::shared_ptr<Dispatch> list :
       {AsObject(colTGProdukte::Create()), AsObject(colTGZinsen::Create()),
        AsObject(colFGZinsen::Create())}) {
    EXPECT_FALSE(list->GetIdOfName("Clear").has_value()) << list->TypeName();
  }
}

TEST(DepositModel, LateBoundAddTakesOnlyAnObjectOfTheItemClass) {
  auto providers = colTGAnbieter::Create();
  auto provider = clsTGAnbieter::Create();
  auto list = AsObject(providers);

  list->Call("Add", {Variant(AsObject(provider))});
  list->Call("Add", {Variant(AsObject(provider))});
  EXPECT_EQ(providers->Count(), 2) << "the same object twice is listed twice";
  EXPECT_EQ(providers->Item(2), provider);

  EXPECT_EQ(ErrorOf([&] { list->Call("Add", {Variant(AsObject(clsTGProdukt::Create()))}); }),
            errnum::kTypeMismatch);
  EXPECT_EQ(ErrorOf([&] { list->Call("Add", {Variant("Bank")}); }), errnum::kTypeMismatch);
  EXPECT_EQ(ErrorOf([&] { list->Call("Add", {Variant()}); }), errnum::kObjectNotSet);
  EXPECT_EQ(
      ErrorOf([&] {
        AsObject(colFGZinsen::Create())->Call("Add", {Variant(AsObject(clsTGZins::Create()))});
      }),
      errnum::kTypeMismatch);
  EXPECT_EQ(providers->Count(), 2);
}

TEST(DepositModel, LateBoundPropertiesKeepTheirTypes) {
  auto product = AsObject(clsTGProdukt::Create());
  EXPECT_EQ(product->Get("Neukunde"), Variant(false));
  product->Put("Neukunde", Variant(true));
  EXPECT_EQ(product->Get("Neukunde"), Variant(true));
  product->Put("ZinsGueltigkeit", Variant("6 Monate"));
  EXPECT_EQ(product->IdOf("ZinsGueltigkeit"), 0x4003000A);
  EXPECT_EQ(product->Get("zinsgueltigkeit"), Variant("6 Monate"));

  auto tier = AsObject(clsTGZins::Create());
  EXPECT_EQ(tier->Get("GueltigZinsDanach"), Variant(int32_t{0}));
  tier->Put("GueltigZinsDanach", Variant(int16_t{12}));
  EXPECT_EQ(tier->Get("GueltigZinsDanach"), Variant(int32_t{12}));
}

}  // namespace
}  // namespace vexcomm
