#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <stdexcept>
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
// A class that derives from Dispatch itself (its base fixed by a public header) builds a
// MemberSet instead and forwards GetIdOfName and Invoke to it; only such a table may have
// members with optional arguments or a default member of another id.
template <class T>
class MemberSet;

// How many arguments a member takes: the optional ones come last.
struct ArgCount {
  std::size_t fewest;
  std::size_t most;
};

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
  MemberTable& Method(std::string_view name, DispId id, ArgCount count, Fn call) {
    Add(InvokeKind::Method, name, id, count.most, std::move(call));
    fewest_.back() = count.fewest;
    return *this;
  }
  // The last member also hands its result back through its argument `index` when the caller
  // passed it: a by-reference argument the host may read instead of the result.
  MemberTable& ResultAlsoTo(std::size_t index) {
    auto& call = members_.back().call;
    call = [call = std::move(call), index](T& self, Args args) {
      Variant result = call(self, args);
      if (index < args.size()) args[index] = result;
      return result;
    };
    return *this;
  }
  // What the default dispatch id (kDispIdValue) calls: the member of this id.
  MemberTable& DefaultMember(DispId id) {
    default_member_ = id;
    return *this;
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
    fewest_.push_back(arg_count);
    return *this;
  }
  // For DispatchObject, which takes each member's count exactly.
  std::vector<Member<T>> Build() {
    for (std::size_t i = 0; i < members_.size(); ++i) {
      if (fewest_[i] != members_[i].arg_count) throw std::logic_error("optional arguments");
    }
    if (default_member_) throw std::logic_error("default member");
    return std::move(members_);
  }
  MemberSet<T> BuildSet() {
    return MemberSet<T>(std::move(members_), std::move(fewest_), default_member_);
  }

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
  std::vector<std::size_t> fewest_;  // beside members_: the fewest arguments of each
  std::optional<DispId> default_member_;
};

// A built table, with DispatchObject's rules: a property get and a method stand in for each
// other; 438 for an unknown id or kind, 450 for a count of arguments the member does not take.
template <class T>
class MemberSet {
 public:
  MemberSet(std::vector<Member<T>> members, std::vector<std::size_t> fewest,
            std::optional<DispId> default_member)
      : members_(std::move(members)), fewest_(std::move(fewest)), default_member_(default_member) {}

  std::optional<DispId> IdOfName(std::string_view name) const {
    for (const auto& m : members_) {
      if (EqualsNoCase(m.name, name)) return m.id;
    }
    return std::nullopt;
  }

  Variant Invoke(T& self, DispId id, InvokeKind kind, Args args) const {
    if (id == kDispIdValue && default_member_) id = *default_member_;
    for (std::size_t i = 0; i < members_.size(); ++i) {
      const auto& m = members_[i];
      if (m.id != id) continue;
      const bool kind_ok = m.kind == kind ||
                           (m.kind == InvokeKind::PropertyGet && kind == InvokeKind::Method) ||
                           (m.kind == InvokeKind::Method && kind == InvokeKind::PropertyGet);
      if (!kind_ok) continue;
      if (args.size() < fewest_[i] || args.size() > m.arg_count) {
        Raise(errnum::kWrongArgumentCount);
      }
      return m.call(self, args);
    }
    Raise(errnum::kMemberNotFound);
  }

 private:
  std::vector<Member<T>> members_;
  std::vector<std::size_t> fewest_;
  std::optional<DispId> default_member_;
};

}  // namespace vexcomm::automation
