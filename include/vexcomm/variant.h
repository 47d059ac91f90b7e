#pragma once

/// @file
/// The automation value that late-bound calls, events and the host callback carry.

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
/// An array of values, lower bound 0.
using VariantArray = std::vector<Variant>;

/// The kinds of value a Variant holds, in the order of its alternatives.
enum class VarType {
  Empty,   ///< No value: reads as "", 0 or no object.
  Null,    ///< The null value: reading it as text or number fails (error 94).
  Bool,    ///< A Boolean.
  Int16,   ///< A 16-bit integer.
  Int32,   ///< A 32-bit integer.
  Double,  ///< A double.
  String,  ///< UTF-8 text.
  Object,  ///< A late-bound object (may be empty: "Nothing").
  Array,   ///< A VariantArray.
};

/// The automation value: empty, null, Boolean, 16/32-bit integer, double, UTF-8 text, object or
/// array of variants (lower bound 0).
/// @ownership Objects are shared between copies; arrays are copied with the value.
/// @thread None of its own: a value is used on one thread at a time; an object in it belongs to
///   the thread that made the object.
class VEXCOMM_EXPORT Variant {
 public:
  /// The type of the null value; Variant::Null() makes one.
  struct NullTag {
    /// All null tags are equal.
    friend bool operator==(NullTag, NullTag) = default;
  };

  /// An empty value.
  Variant() = default;
  /// The null value.
  Variant(NullTag) : value_(NullTag{}) {}
  /// A Boolean.
  /// @param b The value.
  Variant(bool b) : value_(b) {}
  /// A 16-bit integer.
  /// @param i The value.
  Variant(int16_t i) : value_(i) {}
  /// A 32-bit integer.
  /// @param i The value.
  Variant(int32_t i) : value_(i) {}
  /// A double.
  /// @param d The value.
  Variant(double d) : value_(d) {}
  /// Text.
  /// @param s UTF-8 text, moved in.
  Variant(std::string s) : value_(std::move(s)) {}
  /// Text.
  /// @param s UTF-8 text, copied.
  Variant(std::string_view s) : value_(std::string(s)) {}
  /// Text.
  /// @param s A NUL-terminated UTF-8 text, copied; must not be null.
  Variant(const char* s) : value_(std::string(s)) {}
  /// An object; an empty pointer is "no object" (type Object, not Empty).
  /// @param obj The object, shared.
  Variant(std::shared_ptr<Dispatch> obj) : value_(std::move(obj)) {}
  /// An array.
  /// @param array The items, moved in.
  Variant(VariantArray array);

  /// Copies the value; an array is copied item by item, an object is shared.
  /// @param other The value to copy.
  Variant(const Variant& other);
  /// Copies the value; safe when `other` lives inside this value's array.
  /// @param other The value to copy.
  /// @return This value.
  Variant& operator=(const Variant& other);
  /// Takes the value over; `other` is empty afterwards.
  /// @param other The value to move from.
  Variant(Variant&& other) noexcept;
  /// Takes the value over; `other` is empty afterwards.
  /// @param other The value to move from.
  /// @return This value.
  Variant& operator=(Variant&& other) noexcept;
  ~Variant();

  /// @return The null value.
  static Variant Null() { return Variant(NullTag{}); }

  /// @return The kind of value held.
  VarType type() const noexcept { return static_cast<VarType>(value_.index()); }
  /// @return True when the value is Empty.
  bool is_empty() const noexcept { return type() == VarType::Empty; }
  /// @return True when the value is Null.
  bool is_null() const noexcept { return type() == VarType::Null; }
  /// @return True for a Boolean, an integer or a double (not for text that holds a number).
  bool is_numeric() const noexcept;

  /// The value as text, as the host language converts it.
  /// @return Empty: ""; Boolean: "True" or "False"; a number in the locale's decimal form; an
  ///   object: its default member's value as text.
  /// @throws vexcomm::Error 94 for Null; 13 for an array; 91 for "no object", 438 for an object
  ///   without a default member.
  std::string ToString() const;
  /// The value as a 32-bit integer.
  /// @return Integers as they are; anything else as ToDouble() gives it, rounded to the
  ///   nearest integer with halves to even.
  /// @throws vexcomm::Error 6 when out of range, and what ToDouble() throws.
  int32_t ToInt32() const;
  /// The value as a 16-bit integer, rounded as ToInt32() rounds.
  /// @return The value.
  /// @throws vexcomm::Error 6 when out of range, and what ToDouble() throws.
  int16_t ToInt16() const;
  /// The value as a double.
  /// @return Empty: 0; Boolean: -1 (True) or 0; text read with the locale's decimal separator
  ///   (blanks around it allowed); an object: its default member's value.
  /// @throws vexcomm::Error 13 for text that is no number and for an array; 6 for a number too
  ///   large; 94 for Null; 91 or 438 for an object as ToString().
  double ToDouble() const;
  /// The value as a Boolean.
  /// @return Text "True" or "False" in any case as such, anything else as ToDouble() != 0.
  /// @throws vexcomm::Error What ToDouble() throws.
  bool ToBool() const;
  /// The value as an object.
  /// @return The object; empty for Empty and for "no object".
  /// @throws vexcomm::Error 13 for any other value.
  std::shared_ptr<Dispatch> ToObject() const;
  /// The value as an array.
  /// @return The array held, valid while this value is unchanged.
  /// @throws vexcomm::Error 13 when the value is no array.
  const VariantArray& ToArray() const;

  /// Direct access for code that knows the type (no conversion).
  /// @tparam T One of the alternatives: bool, int16_t, int32_t, double, std::string,
  ///   std::shared_ptr<Dispatch>.
  /// @return The value held, or null when it is of another type.
  template <class T>
  const T* get_if() const noexcept {
    return std::get_if<T>(&value_);
  }
  /// Direct access for code that knows the type (no conversion).
  /// @tparam T As for the const form.
  /// @return The value held, or null when it is of another type.
  template <class T>
  T* get_if() noexcept {
    return std::get_if<T>(&value_);
  }

  /// Equal when of the same type and value: no conversion (1 and "1" differ); arrays item by
  /// item, objects by identity.
  /// @param a A value.
  /// @param b Another value.
  /// @return True when equal.
  friend bool operator==(const Variant& a, const Variant& b);

 private:
  using Value = std::variant<std::monostate, NullTag, bool, int16_t, int32_t, double, std::string,
                             std::shared_ptr<Dispatch>, std::unique_ptr<VariantArray>>;
  Value value_;
};

/// The host language's name of a value type.
/// @param t A value type.
/// @return "Empty", "Null", "Boolean", "Integer", "Long", "Double", "String", "Object" or
///   "Variant()"; "?" for another value.
/// @thread Any thread.
VEXCOMM_EXPORT std::string_view VarTypeName(VarType t);

}  // namespace vexcomm::automation
