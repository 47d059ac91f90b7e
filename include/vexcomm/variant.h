#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <vexcomm/export.h>

namespace vexcomm::automation {

class Dispatch;
class Variant;
using VariantArray = std::vector<Variant>;

enum class VarType { Empty, Null, Bool, Int16, Int32, Double, String, Object, Array };

// The automation value: empty, null, Boolean, 16/32-bit integer, double, UTF-8 text, object or
// array of variants (lower bound 0). Objects are shared; arrays are copied with the value.
class VEXCOMM_EXPORT Variant {
 public:
  struct NullTag {
    friend bool operator==(NullTag, NullTag) = default;
  };

  Variant() = default;
  Variant(NullTag) : value_(NullTag{}) {}
  Variant(bool b) : value_(b) {}
  Variant(int16_t i) : value_(i) {}
  Variant(int32_t i) : value_(i) {}
  Variant(double d) : value_(d) {}
  Variant(std::string s) : value_(std::move(s)) {}
  Variant(std::string_view s) : value_(std::string(s)) {}
  Variant(const char* s) : value_(std::string(s)) {}
  Variant(std::shared_ptr<Dispatch> obj) : value_(std::move(obj)) {}
  Variant(VariantArray array);

  Variant(const Variant& other);
  Variant& operator=(const Variant& other);
  // A moved-from value is empty.
  Variant(Variant&& other) noexcept;
  Variant& operator=(Variant&& other) noexcept;
  ~Variant();

  static Variant Null() { return Variant(NullTag{}); }

  VarType type() const noexcept { return static_cast<VarType>(value_.index()); }
  bool is_empty() const noexcept { return type() == VarType::Empty; }
  bool is_null() const noexcept { return type() == VarType::Null; }
  bool is_numeric() const noexcept;

  // Conversions follow the host language's rules: text to number uses the locale, integers
  // round halves to even, out-of-range is error 6, unconvertible is error 13.
  std::string ToString() const;
  int32_t ToInt32() const;
  int16_t ToInt16() const;
  double ToDouble() const;
  bool ToBool() const;
  // Empty for "no object"; error 13 for any other non-object value.
  std::shared_ptr<Dispatch> ToObject() const;
  const VariantArray& ToArray() const;  // error 13 when not an array

  // Direct access for code that knows the type (no conversion).
  template <class T>
  const T* get_if() const noexcept {
    return std::get_if<T>(&value_);
  }
  template <class T>
  T* get_if() noexcept {
    return std::get_if<T>(&value_);
  }

  friend bool operator==(const Variant& a, const Variant& b);

 private:
  using Value = std::variant<std::monostate, NullTag, bool, int16_t, int32_t, double, std::string,
                             std::shared_ptr<Dispatch>, std::unique_ptr<VariantArray>>;
  Value value_;
};

VEXCOMM_EXPORT std::string_view VarTypeName(VarType t);

}  // namespace vexcomm::automation
