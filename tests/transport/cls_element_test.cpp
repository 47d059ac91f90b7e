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

TEST(ClsElement, ReadsByNumberAndNeverFails) {
  clsElement list;
  EXPECT_EQ(list.Item(1), "");
  for (const char* text : {"VEXMSG", "", "AIRMG"}) list.Add(text);
  EXPECT_EQ(list.Count(), 3);  // empty texts count
  std::vector<std::string> read;
  for (int32_t index : {1, 2, 3, 4, 0, -1, INT32_MIN, INT32_MAX}) read.push_back(list.Item(index));
  EXPECT_EQ(read, (std::vector<std::string>{"VEXMSG", "", "AIRMG", "", "", "", "", ""}));
  // An element is taken once; the others stay where they were.
  EXPECT_EQ(list.Take(3), "AIRMG");
  EXPECT_EQ(list.Take(3), "");
  EXPECT_EQ(list.Item(1), "VEXMSG");
  EXPECT_EQ(list.Count(), 3);
}

struct LateBoundCase {
  const char* name;
  const char* member;
  InvokeKind kind;
  std::vector<Variant> args;
  Variant expected;   // when no error is expected
  int32_t error = 0;  // expected error number, 0 for none
};

TEST(ClsElement, AnswersAsTheDocumentedInterface) {
  const LateBoundCase cases[] = {
      {"ItemLong", "Item", InvokeKind::PropertyGet, {Variant(int32_t{3})}, "AIRMG"},
      {"ItemInteger", "item", InvokeKind::PropertyGet, {Variant(int16_t{1})}, "VEXMSG"},
      {"ItemText", "ITEM", InvokeKind::PropertyGet, {Variant("2")}, "2"},
      {"ItemBeyond", "Item", InvokeKind::PropertyGet, {Variant(int32_t{4})}, ""},
      {"Count", "Count", InvokeKind::PropertyGet, {}, Variant(int32_t{3})},
      {"ItemWithoutIndex", "Item", InvokeKind::PropertyGet, {}, {}, 450},
      {"CountWithIndex", "Count", InvokeKind::PropertyGet, {Variant(1)}, {}, 450},
      {"ItemPut", "Item", InvokeKind::PropertyPut, {Variant(1)}, {}, 438},
      {"AddIsInternal", "Add", InvokeKind::Method, {Variant("x")}, {}, 438},
      {"ItemOfNoNumber", "Item", InvokeKind::PropertyGet, {Variant("x")}, {}, 13},
  };
  auto list = std::make_shared<clsElement>();
  for (const char* text : {"VEXMSG", "2", "AIRMG"}) list->Add(text);
  automation::Dispatch& object = *list;
  for (const auto& c : cases) {
    auto args = c.args;
    Variant result;
    EXPECT_EQ(test::ErrorOf([&] { result = object.Invoke(object.IdOf(c.member), c.kind, args); }),
              c.error)
        << c.name;
    if (c.error == 0) {
      EXPECT_EQ(result, c.expected) << c.name;
      EXPECT_EQ(args, c.args) << c.name << ": the index is passed by reference but must not change";
    }
  }
}

TEST(ClsElement, DispatchIdsAndInterfaces) {
  clsElement list;
  EXPECT_EQ(list.GetIdOfName("Item"), automation::kDispIdValue);
  EXPECT_EQ(list.GetIdOfName("Count"), 0x68030000);
  EXPECT_EQ(list.TypeName(), "clsElement");
  EXPECT_TRUE(list.Supports("{556FEF53-A4C2-4734-ABA7-1081DB219055}"));
  EXPECT_FALSE(list.Supports(clsElement::kClsid));
}

}  // namespace
}  // namespace vexcomm::transport
