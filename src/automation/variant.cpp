#include <cmath>

#include <vexcomm/dispatch.h>
#include <vexcomm/variant.h>

#include "platform/number_text.h"

namespace vexcomm::automation {

namespace {

[[noreturn]] void InvalidUseOfNull() {
  throw Error(94, "Invalid use of Null");
}

// An object converts through its default member.
Variant DefaultValue(const std::shared_ptr<Dispatch>& object) {
  if (!object) Raise(errnum::kObjectNotSet);
  return object->Invoke(kDispIdValue, InvokeKind::PropertyGet, {});
}

}  // namespace

Variant::Variant(VariantArray array) : value_(std::make_unique<VariantArray>(std::move(array))) {}

Variant::Variant(const Variant& other) {
  *this = other;
}

Variant& Variant::operator=(const Variant& other) {
  if (this == &other) return *this;
  // Copied in full before value_ changes: `other` may live inside the array being replaced.
  Value copy;
  if (const auto* arr = std::get_if<std::unique_ptr<VariantArray>>(&other.value_)) {
    copy = std::make_unique<VariantArray>(**arr);
  } else {
    std::visit(
        [&copy](const auto& v) {
          using T = std::decay_t<decltype(v)>;
          if constexpr (!std::is_same_v<T, std::unique_ptr<VariantArray>>) copy = v;
        },
        other.value_);
  }
  value_ = std::move(copy);
  return *this;
}

// A defaulted move would leave an array alternative holding no array.
Variant::Variant(Variant&& other) noexcept : value_(std::move(other.value_)) {
  other.value_ = std::monostate{};
}

Variant& Variant::operator=(Variant&& other) noexcept {
  if (this != &other) {
    Value taken = std::move(other.value_);
    other.value_ = std::monostate{};
    value_ = std::move(taken);
  }
  return *this;
}

Variant::~Variant() = default;

bool Variant::is_numeric() const noexcept {
  switch (type()) {
    case VarType::Bool:
    case VarType::Int16:
    case VarType::Int32:
    case VarType::Double:
      return true;
    default:
      return false;
  }
}

std::string Variant::ToString() const {
  switch (type()) {
    case VarType::Empty:
      return {};
    case VarType::Bool:
      return std::get<bool>(value_) ? "True" : "False";
    case VarType::Int16:
      return std::to_string(std::get<int16_t>(value_));
    case VarType::Int32:
      return std::to_string(std::get<int32_t>(value_));
    case VarType::Double:
      return platform::FormatGeneralNumber(std::get<double>(value_));
    case VarType::String:
      return std::get<std::string>(value_);
    case VarType::Null:  // Null has no text
      InvalidUseOfNull();
    case VarType::Object:
      return DefaultValue(std::get<std::shared_ptr<Dispatch>>(value_)).ToString();
    case VarType::Array:
      Raise(errnum::kTypeMismatch);
  }
  Raise(errnum::kTypeMismatch);
}

double Variant::ToDouble() const {
  switch (type()) {
    case VarType::Empty:
      return 0;
    case VarType::Bool:
      return std::get<bool>(value_) ? -1 : 0;
    case VarType::Int16:
      return std::get<int16_t>(value_);
    case VarType::Int32:
      return std::get<int32_t>(value_);
    case VarType::Double:
      return std::get<double>(value_);
    case VarType::String:
      return platform::ParseLocaleNumber(std::get<std::string>(value_));
    case VarType::Null:
      InvalidUseOfNull();
    case VarType::Object:
      return DefaultValue(std::get<std::shared_ptr<Dispatch>>(value_)).ToDouble();
    case VarType::Array:
      Raise(errnum::kTypeMismatch);
  }
  Raise(errnum::kTypeMismatch);
}

int32_t Variant::ToInt32() const {
  switch (type()) {
    case VarType::Int16:
      return std::get<int16_t>(value_);
    case VarType::Int32:
      return std::get<int32_t>(value_);
    default:
      return platform::RoundToInt32(ToDouble());
  }
}

int16_t Variant::ToInt16() const {
  return platform::RoundToInt16(ToDouble());
}

bool Variant::ToBool() const {
  if (const auto* s = std::get_if<std::string>(&value_)) {
    // Text converts by its words first, then as a number.
    if (EqualsNoCase(*s, "True")) return true;
    if (EqualsNoCase(*s, "False")) return false;
  }
  if (const auto* b = std::get_if<bool>(&value_)) return *b;
  return ToDouble() != 0;
}

std::shared_ptr<Dispatch> Variant::ToObject() const {
  if (is_empty()) return nullptr;
  if (const auto* obj = std::get_if<std::shared_ptr<Dispatch>>(&value_)) return *obj;
  Raise(errnum::kTypeMismatch);
}

const VariantArray& Variant::ToArray() const {
  if (const auto* arr = std::get_if<std::unique_ptr<VariantArray>>(&value_)) return **arr;
  Raise(errnum::kTypeMismatch);
}

bool operator==(const Variant& a, const Variant& b) {
  if (a.type() != b.type()) return false;
  if (a.type() == VarType::Array) return a.ToArray() == b.ToArray();
  return a.value_ == b.value_;
}

std::string_view VarTypeName(VarType t) {
  switch (t) {
    case VarType::Empty:
      return "Empty";
    case VarType::Null:
      return "Null";
    case VarType::Bool:
      return "Boolean";
    case VarType::Int16:
      return "Integer";
    case VarType::Int32:
      return "Long";
    case VarType::Double:
      return "Double";
    case VarType::String:
      return "String";
    case VarType::Object:
      return "Object";
    case VarType::Array:
      return "Variant()";
  }
  return "?";
}

}  // namespace vexcomm::automation
