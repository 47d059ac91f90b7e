#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <vexcomm/error.h>
#include <vexcomm/export.h>
#include <vexcomm/variant.h>

namespace vexcomm::automation {

using DispId = int32_t;
inline constexpr DispId kDispIdValue = 0;  // the default member

enum class InvokeKind : uint8_t { Method = 1, PropertyGet = 2, PropertyPut = 4 };

// Arguments in call order. A callee may write to an argument that the member takes by
// reference; the caller sees the change in its vector.
using Args = std::span<Variant>;

// The late-bound surface of every object of the component, and of host objects handed to it.
// Names are looked up case-insensitively. Calls fail with vexcomm::Error (438 for an unknown
// member or kind, 450 for a wrong argument count, 13 for an argument of the wrong kind).
// Thread-safety: none; an object is used on the thread that created it.
class VEXCOMM_EXPORT Dispatch {
 public:
  virtual ~Dispatch();

  virtual std::string_view TypeName() const = 0;
  virtual std::optional<DispId> GetIdOfName(std::string_view name) const = 0;
  virtual Variant Invoke(DispId id, InvokeKind kind, Args args) = 0;
  // Answers the interface identifiers (GUID text, any case, with braces) the object implements.
  virtual bool Supports(std::string_view iid) const;

  // Conveniences for callers that bind by name.
  Variant Call(std::string_view name, std::vector<Variant> args = {});
  Variant Get(std::string_view name, std::vector<Variant> args = {});
  void Put(std::string_view name, Variant value);
  DispId IdOf(std::string_view name) const;  // error 438 when unknown
};

// Case-insensitive (ASCII) comparison used for member names, ProgIDs and GUIDs.
VEXCOMM_EXPORT bool EqualsNoCase(std::string_view a, std::string_view b) noexcept;

// One member of a class's late-bound table, listed in slot order.
template <class T>
struct Member {
  std::string_view name;
  DispId id;
  InvokeKind kind;
  std::size_t arg_count;
  std::function<Variant(T&, Args)> call;
};

// Implements Dispatch over a static member table; T derives from DispatchObject<T> and provides
// `static const std::vector<Member<T>>& Members();` and `static constexpr std::string_view
// kTypeName`, and may provide `static std::span<const std::string_view> InterfaceIds()`.
template <class T>
class DispatchObject : public Dispatch {
 public:
  std::string_view TypeName() const override { return T::kTypeName; }

  std::optional<DispId> GetIdOfName(std::string_view name) const override {
    for (const auto& m : T::Members()) {
      if (EqualsNoCase(m.name, name)) return m.id;
    }
    return std::nullopt;
  }

  Variant Invoke(DispId id, InvokeKind kind, Args args) override {
    bool known = false;
    for (const auto& m : T::Members()) {
      if (m.id != id) continue;
      known = true;
      // A property get may be called as a method, as late binding allows.
      bool kind_ok = m.kind == kind ||
                     (m.kind == InvokeKind::PropertyGet && kind == InvokeKind::Method) ||
                     (m.kind == InvokeKind::Method && kind == InvokeKind::PropertyGet);
      if (!kind_ok) continue;
      if (args.size() != m.arg_count) Raise(errnum::kWrongArgumentCount);
      return m.call(static_cast<T&>(*this), args);
    }
    (void)known;
    Raise(errnum::kMemberNotFound);
  }

  bool Supports(std::string_view iid) const override {
    if constexpr (requires { T::InterfaceIds(); }) {
      for (std::string_view known : T::InterfaceIds()) {
        if (EqualsNoCase(known, iid)) return true;
      }
    }
    return Dispatch::Supports(iid);
  }
};

// The IDispatch interface identifier that every object answers to.
inline constexpr std::string_view kIidDispatch = "{00020400-0000-0000-C000-000000000046}";

// Where an object raises its events: hosts attach Dispatch sinks (invoked by dispatch id) or,
// from C++, plain functions. A sink's failure is swallowed: a host handler never breaks a run.
class VEXCOMM_EXPORT EventSource {
 public:
  using Handler = std::function<void(DispId, Args)>;
  using Cookie = uint32_t;

  Cookie Advise(std::shared_ptr<Dispatch> sink);
  Cookie Advise(Handler handler);
  void Unadvise(Cookie cookie);
  bool HasSinks() const noexcept { return !sinks_.empty(); }
  // Calls every sink with the event's dispatch id; sinks may change by-reference arguments.
  void Raise(DispId id, Args args);
  // The same for the handlers only: an event of the C++ surface that late-bound sinks do not know.
  void RaiseToHandlers(DispId id, Args args);
  // The same for the Dispatch sinks only.
  void RaiseToObjects(DispId id, Args args);

 private:
  struct Sink {
    Cookie cookie;
    std::shared_ptr<Dispatch> object;
    std::shared_ptr<Handler> handler;
    std::shared_ptr<bool> advised;  // cleared by Unadvise, seen by a raise in progress
  };
  void RaiseTo(DispId id, Args args, bool objects);
  void RaiseTo(DispId id, Args args, bool objects, bool handlers);

  std::vector<Sink> sinks_;
  Cookie next_cookie_ = 1;
};

// A host callback object for C++ hosts: its one method `callback(kind, text)` calls `fn`.
VEXCOMM_EXPORT std::shared_ptr<Dispatch> MakeCallback(
    std::function<void(int16_t kind, const std::string& text)> fn);

// A late-bound object built from plain functions, for hosts and tests: each name maps to a
// function that receives the arguments; "callback" is just one such name.
VEXCOMM_EXPORT std::shared_ptr<Dispatch> MakeDynamicObject(
    std::string type_name,
    std::vector<std::pair<std::string, std::function<Variant(Args)>>> methods);

// Class factories by ProgID. The library registers its creatable classes at one place.
using Factory = std::function<std::shared_ptr<Dispatch>()>;
VEXCOMM_EXPORT void RegisterClass(std::string prog_id, Factory factory);
// Creates an instance of a registered class; error 429 ("ActiveX component can't create
// object") for an unknown ProgID.
VEXCOMM_EXPORT std::shared_ptr<Dispatch> CreateRegisteredObject(std::string_view prog_id);

}  // namespace vexcomm::automation
