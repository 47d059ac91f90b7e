#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include <vexcomm/dispatch.h>

namespace vexcomm::automation {

// Builds a class's late-bound member table in slot order, one call a member:
//
//   static const std::vector<Member<clsKurs>> members = MemberTable<clsKurs>()
//       .Property("Datum", 0x40030000, &clsKurs::Datum)
//       .Method("Clear", 0x60030001, 0, [](clsKurs& self, Args) { self.Clear(); })
//       .Build();
//
// A call may return nothing (the member answers Empty), a value a Variant holds, or an object.
template <class T>
class MemberTable {
 public:
  // A read-write field: get before put, as in the slot order.
  template <class F>
  MemberTable& Property(std::string_view name, DispId id, F T::*field) {
    Get(name, id, [field](T& self) { return self.*field; });
    return Put(name, id, [field](T& self, const Variant& value) { self.*field = As<F>(value); });
  }
  // The same through the class's accessors.
  template <class R, class V>
  MemberTable& Property(std::string_view name, DispId id, R (T::*get)() const, void (T::*set)(V)) {
    Get(name, id, [get](T& self) { return (self.*get)(); });
    return Put(name, id,
               [set](T& self, const Variant& value) { (self.*set)(As<std::decay_t<V>>(value)); });
  }
  template <class Fn>
  MemberTable& Get(std::string_view name, DispId id, Fn get) {
    return Add(InvokeKind::PropertyGet, name, id, 0,
               [get = std::move(get)](T& self, Args) { return get(self); });
  }
  template <class Fn>
  MemberTable& Put(std::string_view name, DispId id, Fn put) {
    return Add(InvokeKind::PropertyPut, name, id, 1,
               [put = std::move(put)](T& self, Args args) { put(self, args[0]); });
  }
  template <class Fn>
  MemberTable& Method(std::string_view name, DispId id, std::size_t arg_count, Fn call) {
    return Add(InvokeKind::Method, name, id, arg_count, std::move(call));
  }
  template <class Fn>
  MemberTable& Add(InvokeKind kind, std::string_view name, DispId id, std::size_t arg_count,
                   Fn call) {
    members_.push_back({name, id, kind, arg_count, [call = std::move(call)](T& self, Args args) {
                          if constexpr (std::is_void_v<std::invoke_result_t<const Fn&, T&, Args>>) {
                            call(self, args);
                            return Variant();
                          } else {
                            return ToVariant(call(self, args));
                          }
                        }});
    return *this;
  }
  std::vector<Member<T>> Build() { return std::move(members_); }

 private:
  template <class F>
  static F As(const Variant& value) {
    if constexpr (std::is_same_v<F, std::string>) {
      return value.ToString();
    } else if constexpr (std::is_same_v<F, bool>) {
      return value.ToBool();
    } else {
      static_assert(std::is_same_v<F, int32_t>);
      return value.ToInt32();
    }
  }
  template <class R>
  static Variant ToVariant(R&& result) {
    if constexpr (std::is_convertible_v<R, std::shared_ptr<Dispatch>>) {
      return Variant(std::shared_ptr<Dispatch>(std::forward<R>(result)));
    } else {
      return Variant(std::forward<R>(result));
    }
  }

  std::vector<Member<T>> members_;
};

}  // namespace vexcomm::automation
