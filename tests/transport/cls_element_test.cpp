#include "transport/cls_element.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include <vexcomm/error.h>

#include "support/error_of.h"

namespace vexcomm::transport {
namespace {

using automation::InvokeKind;
using automation::Variant;

struct ItemCase {
  const char* name;
  std::vector<std::string> added;
  int32_t expected_count;
  std::vector<std::pair<int32_t, std::string>> reads;
};

void PrintTo(const ItemCase& c, std::ostream* os) {
  *os << c.name;
}

class ClsElementItems : public testing::TestWithParam<ItemCase> {};

TEST_P(ClsElementItems, ReadsByNumberAndNeverFails) {
  const auto& c = GetParam();
  clsElement list;
  for (const auto& text : c.added) list.Add(text);
  EXPECT_EQ(list.Count(), c.expected_count);
  for (const auto& [index, expected] : c.reads) {
    EXPECT_EQ(list.Item(index), expected) << "Item(" << index << ")";
  }
}

INSTANTIATE_TEST_SUITE_P(Table, ClsElementItems,
                         testing::Values(ItemCase{"Fresh", {}, 0, {{1, ""}, {0, ""}, {-1, ""}}},
                                         ItemCase{"SixElements",
                                                  {"VEXMSG", "2", "AIRMG", "10", "x", "MSGEND"},
                                                  6,
                                                  {{1, "VEXMSG"},
                                                   {3, "AIRMG"},
                                                   {6, "MSGEND"},
                                                   {7, ""},
                                                   {0, ""},
                                                   {-1, ""},
                                                   {INT32_MIN, ""},
                                                   {INT32_MAX, ""}}},
                                         ItemCase{"EmptyTextsCount",
                                                  {"", "a", ""},
                                                  3,
                                                  {{1, ""}, {2, "a"}, {3, ""}, {4, ""}}}),
                         [](const auto& info) { return std::string(info.param.name); });

struct LateBoundCase {
  const char* name;
  const char* member;
  InvokeKind kind;
  std::vector<Variant> args;
  Variant expected;   // when no error is expected
  int32_t error = 0;  // expected error number, 0 for none
};

void PrintTo(const LateBoundCase& c, std::ostream* os) {
  *os << c.name;
}

class ClsElementLateBound : public testing::TestWithParam<LateBoundCase> {};

TEST_P(ClsElementLateBound, AnswersAsTheDocumentedInterface) {
  const auto& c = GetParam();
  auto list = std::make_shared<clsElement>();
  for (const char* text : {"VEXMSG", "2", "AIRMG"}) list->Add(text);
  automation::Dispatch& object = *list;
  auto args = c.args;
  if (c.error != 0) {
    EXPECT_EQ(test::ErrorOf([&] { object.Invoke(object.IdOf(c.member), c.kind, args); }), c.error);
    return;
  }
  Variant result = object.Invoke(object.IdOf(c.member), c.kind, args);
  EXPECT_EQ(result, c.expected);
  EXPECT_EQ(args, c.args) << "the index is passed by reference but must not change";
}

INSTANTIATE_TEST_SUITE_P(
    Table, ClsElementLateBound,
    testing::Values(
        LateBoundCase{"ItemLong", "Item", InvokeKind::PropertyGet, {Variant(int32_t{3})}, "AIRMG"},
        LateBoundCase{
            "ItemInteger", "item", InvokeKind::PropertyGet, {Variant(int16_t{1})}, "VEXMSG"},
        LateBoundCase{"ItemText", "ITEM", InvokeKind::PropertyGet, {Variant("2")}, "2"},
        LateBoundCase{"ItemBeyond", "Item", InvokeKind::PropertyGet, {Variant(int32_t{4})}, ""},
        LateBoundCase{"Count", "Count", InvokeKind::PropertyGet, {}, Variant(int32_t{3})},
        LateBoundCase{"ItemWithoutIndex", "Item", InvokeKind::PropertyGet, {}, {}, 450},
        LateBoundCase{"CountWithIndex", "Count", InvokeKind::PropertyGet, {Variant(1)}, {}, 450},
        LateBoundCase{"ItemPut", "Item", InvokeKind::PropertyPut, {Variant(1)}, {}, 438},
        LateBoundCase{"AddIsInternal", "Add", InvokeKind::Method, {Variant("x")}, {}, 438},
        LateBoundCase{"ItemOfNoNumber", "Item", InvokeKind::PropertyGet, {Variant("x")}, {}, 13}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ClsElement, DispatchIdsAndInterfaces) {
  clsElement list;
  EXPECT_EQ(list.GetIdOfName("Item"), automation::kDispIdValue);
  EXPECT_EQ(list.GetIdOfName("Count"), 0x68030000);
  EXPECT_EQ(list.TypeName(), "clsElement");
  EXPECT_TRUE(list.Supports("{556FEF53-A4C2-4734-ABA7-1081DB219055}"));
  EXPECT_TRUE(list.Supports("{556fef53-a4c2-4734-aba7-1081db219055}"));
  EXPECT_TRUE(list.Supports(automation::kIidDispatch));
  EXPECT_FALSE(list.Supports(clsElement::kClsid));
}

}  // namespace
}  // namespace vexcomm::transport
