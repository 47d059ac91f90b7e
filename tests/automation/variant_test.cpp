#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include <vexcomm/dispatch.h>
#include <vexcomm/error.h>
#include <vexcomm/variant.h>

#include "support/error_of.h"

namespace vexcomm::automation {
namespace {

// Text inputs avoid decimal and grouping marks: they must read alike in every locale.

constexpr int32_t kNullUse = 94;

// An object whose default member answers `value`.
std::shared_ptr<Dispatch> ObjectWithValue(Variant value) {
  struct Valued final : Dispatch {
    Variant value;
    std::string_view TypeName() const override { return "Valued"; }
    std::optional<DispId> GetIdOfName(std::string_view) const override { return kDispIdValue; }
    Variant Invoke(DispId, InvokeKind, Args) override { return value; }
  };
  auto object = std::make_shared<Valued>();
  object->value = std::move(value);
  return object;
}

template <class T>
struct ConversionCase {
  const char* name;
  Variant input;
  T expected;
  int32_t error = 0;
};

template <class T>
void Check(const std::vector<ConversionCase<T>>& cases,
           const std::function<T(const Variant&)>& convert) {
  for (const auto& c : cases) {
    T value{};
    EXPECT_EQ(test::ErrorOf([&] { value = convert(c.input); }), c.error) << c.name;
    if (c.error == 0) {
      EXPECT_EQ(value, c.expected) << c.name;
    }
  }
}

TEST(Variant, ToInt32) {
  std::vector<ConversionCase<int32_t>> cases = {
      {"False", Variant(false), 0},
      {"Int16", Variant(int16_t{-5}), -5},
      // The rounding itself is RoundToInt32's (NumberTextTest).
      {"HalfDown", Variant(2.5), 2},
      {"HalfUp", Variant(3.5), 4},
      {"HalfAboveMax", Variant(2147483647.5), 0, errnum::kOverflow},
      {"Text", Variant("42"), 42},
      {"TextBlanks", Variant(" -7 "), -7},
      {"TextExponent", Variant("1E3"), 1000},
      {"TextNoNumber", Variant("abc"), 0, errnum::kTypeMismatch},
      {"TextEmpty", Variant(""), 0, errnum::kTypeMismatch},
      {"Array", Variant(VariantArray{Variant(1)}), 0, errnum::kTypeMismatch},
      {"NoObject", Variant(std::shared_ptr<Dispatch>()), 0, errnum::kObjectNotSet},
      {"ObjectDefault", Variant(ObjectWithValue(Variant(9.5))), 10},
  };
  Check<int32_t>(cases, [](const Variant& v) { return v.ToInt32(); });
}

// Bools, Null and texts reach both through ToDouble.
TEST(Variant, ToInt16) {
  std::vector<ConversionCase<int16_t>> cases = {
      {"Min", Variant(int32_t{-32768}), -32768},
      {"AboveMax", Variant(int32_t{40000}), 0, errnum::kOverflow},
      {"TextAboveMax", Variant("32768"), 0, errnum::kOverflow},
  };
  Check<int16_t>(cases, [](const Variant& v) { return v.ToInt16(); });
}

TEST(Variant, ToDouble) {
  std::vector<ConversionCase<double>> cases = {
      {"Empty", Variant(), 0},
      {"True", Variant(true), -1},
      {"Int16", Variant(int16_t{300}), 300},
      {"Double", Variant(0.25), 0.25},
      {"TextExponent", Variant("25E-2"), 0.25},
      {"TextHuge", Variant("1E400"), 0, errnum::kOverflow},
      {"TextNoNumber", Variant("-"), 0, errnum::kTypeMismatch},
      {"Null", Variant::Null(), 0, kNullUse},
      {"Array", Variant(VariantArray{}), 0, errnum::kTypeMismatch},
  };
  Check<double>(cases, [](const Variant& v) { return v.ToDouble(); });
}

TEST(Variant, ToStringOf) {
  std::vector<ConversionCase<std::string>> cases = {
      {"Empty", Variant(), ""},
      {"True", Variant(true), "True"},
      {"False", Variant(false), "False"},
      {"Int16", Variant(int16_t{-3}), "-3"},
      {"Int32", Variant(int32_t{123456}), "123456"},
      {"WholeDouble", Variant(100.0), "100"},
      {"Text", Variant("Grüße"), "Grüße"},
      {"ObjectDefault", Variant(ObjectWithValue(Variant("x"))), "x"},
      {"Null", Variant::Null(), "", kNullUse},
      {"Array", Variant(VariantArray{}), "", errnum::kTypeMismatch},
      {"NoObject", Variant(std::shared_ptr<Dispatch>()), "", errnum::kObjectNotSet},
  };
  Check<std::string>(cases, [](const Variant& v) { return v.ToString(); });
}

TEST(Variant, ToBool) {
  std::vector<ConversionCase<bool>> cases = {
      {"True", Variant("True"), true},
      {"TrueUpper", Variant("TRUE"), true},
      {"FalseLower", Variant("false"), false},
      {"TextZero", Variant("0"), false},
      {"Empty", Variant(), false},
      {"SmallDouble", Variant(0.1), true},
      {"TextOther", Variant("maybe"), false, errnum::kTypeMismatch},
      {"Null", Variant::Null(), false, kNullUse},
  };
  Check<bool>(cases, [](const Variant& v) { return v.ToBool(); });
}

TEST(Variant, ObjectsAndArraysByKind) {
  auto object = ObjectWithValue(Variant(1));
  EXPECT_EQ(Variant().ToObject(), nullptr);
  EXPECT_EQ(Variant(object).ToObject(), object);
  for (const Variant& v : {Variant(1), Variant("x"), Variant::Null(), Variant(VariantArray{})})
    EXPECT_EQ(test::ErrorOf([&] { v.ToObject(); }), errnum::kTypeMismatch) << VarTypeName(v.type());
  for (const Variant& v : {Variant(), Variant(1), Variant("x"), Variant(object)})
    EXPECT_EQ(test::ErrorOf([&] { v.ToArray(); }), errnum::kTypeMismatch) << VarTypeName(v.type());
}

TEST(Variant, ArrayCopiesAreIndependent) {
  Variant inner(VariantArray{Variant(1), Variant("a")});
  Variant original(VariantArray{Variant(), inner});
  Variant copy = original;
  ASSERT_EQ(copy, original);
  EXPECT_NE(copy.ToArray().data(), original.ToArray().data());
  EXPECT_NE(copy.ToArray()[1].ToArray().data(), original.ToArray()[1].ToArray().data());

  original = Variant(VariantArray{Variant("changed")});
  ASSERT_EQ(copy.ToArray().size(), 2u);
  EXPECT_EQ(copy.ToArray()[1].ToArray()[1], Variant("a"));

  Variant assigned("text");
  assigned = copy;
  EXPECT_EQ(assigned, copy);
  EXPECT_NE(assigned.ToArray().data(), copy.ToArray().data());
}

TEST(Variant, AssignFromItsOwnArray) {
  // The element lives inside the array that the assignment replaces.
  for (const Variant& element :
       {Variant(int32_t{7}), Variant("text"), Variant(2.5), Variant(ObjectWithValue(Variant(1))),
        Variant(VariantArray{Variant(3)})}) {
    Variant v(VariantArray{Variant(), element});
    v = v.ToArray()[1];
    EXPECT_EQ(v, element) << VarTypeName(element.type());
  }
  Variant self(VariantArray{Variant(1)});
  const Variant& alias = self;
  self = alias;
  EXPECT_EQ(self, Variant(VariantArray{Variant(1)}));
}

TEST(Variant, MovedFromIsUsable) {
  for (const Variant& value : {Variant(VariantArray{Variant(1)}), Variant("text"), Variant(3)}) {
    Variant constructed_from = value;
    Variant assigned_from = value;
    Variant constructed = std::move(constructed_from);
    Variant assigned;
    assigned = std::move(assigned_from);
    EXPECT_EQ(constructed, value);
    EXPECT_EQ(assigned, value);
    // A moved-from value stays valid: it copies and compares.
    for (const Variant* moved : {&constructed_from, &assigned_from})
      EXPECT_EQ(Variant(*moved), *moved);
    if (constructed_from.type() == VarType::Array) {
      EXPECT_TRUE(constructed_from.ToArray().empty());
    }
  }
}

TEST(Variant, Equality) {
  auto a = ObjectWithValue(Variant(1));
  auto b = ObjectWithValue(Variant(1));
  struct Case {
    const char* name;
    Variant left;
    Variant right;
    bool equal;
  } const cases[] = {
      {"EmptyEmpty", Variant(), Variant(), true},
      {"EmptyNull", Variant(), Variant::Null(), false},
      {"NullNull", Variant::Null(), Variant::Null(), true},
      {"EmptyText", Variant(), Variant(""), false},
      {"TextCase", Variant("a"), Variant("A"), false},
      {"SameText", Variant("Grüße"), Variant(std::string("Grüße")), true},
      {"SameObject", Variant(a), Variant(a), true},
      {"OtherObject", Variant(a), Variant(b), false},
      {"ArrayContent", Variant(VariantArray{Variant(1), Variant("x")}),
       Variant(VariantArray{Variant(1), Variant("x")}), true},
      {"ArrayOrder", Variant(VariantArray{Variant(1), Variant("x")}),
       Variant(VariantArray{Variant("x"), Variant(1)}), false},
      {"ArrayLength", Variant(VariantArray{Variant(1)}),
       Variant(VariantArray{Variant(1), Variant()}), false},
      {"NestedArray", Variant(VariantArray{Variant(VariantArray{Variant(2)})}),
       Variant(VariantArray{Variant(VariantArray{Variant(3)})}), false},
      {"Double", Variant(0.5), Variant(0.25), false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.left == c.right, c.equal) << c.name;
    EXPECT_EQ(c.right == c.left, c.equal) << c.name;
  }
}

}  // namespace
}  // namespace vexcomm::automation
