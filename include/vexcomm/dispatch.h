#pragma once

/// @file
/// The late-bound surface: objects reached by member name and dispatch id, events, class
/// factories by ProgID.

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

/// The late-bound surface of the component: what a COM automation host would see.
namespace vexcomm::automation {

/// A member's dispatch id, as the component's documented interfaces number them.
using DispId = int32_t;
/// The dispatch id of an object's default member.
inline constexpr DispId kDispIdValue = 0;

/// How a member is invoked.
enum class InvokeKind : uint8_t {
  Method = 1,       ///< A method call.
  PropertyGet = 2,  ///< Reading a property.
  PropertyPut = 4,  ///< Writing a property: the one argument is the new value.
};

/// Arguments in call order. A callee may write to an argument that the member takes by
/// reference; the caller sees the change in its vector.
using Args = std::span<Variant>;

/// The late-bound surface of every object of the component, and of host objects handed to it
/// (the callback object, event sinks). Names are looked up without regard to case.
/// @ownership Held by std::shared_ptr; "no object" is an empty pointer.
/// @thread None: an object is used on the thread that created it.
class VEXCOMM_EXPORT Dispatch {
 public:
  virtual ~Dispatch();

  /// The object's class name, as the host language shows it ("VexComm", "clsAktie").
  /// @return The name; valid as long as the object.
  virtual std::string_view TypeName() const = 0;
  /// Finds a member by name.
  /// @param name The member's name, in any case.
  /// @return Its dispatch id, or nothing when the object has no such member.
  virtual std::optional<DispId> GetIdOfName(std::string_view name) const = 0;
  /// Calls a member.
  /// @param id The member's dispatch id (GetIdOfName), or kDispIdValue for the default member.
  /// @param kind How it is called; a property get may also be called as a method and the other
  ///   way round, as late binding allows.
  /// @param args The arguments in call order (for PropertyPut the new value).
  /// @return The result; Empty for a method without one.
  /// @throws vexcomm::Error 438 for an unknown id or a kind the member lacks, 450 for a wrong
  ///   number of arguments, 13 for an argument of the wrong kind, and the member's own errors.
  virtual Variant Invoke(DispId id, InvokeKind kind, Args args) = 0;
  /// Whether the object implements an interface.
  /// @param iid The interface identifier as GUID text with braces, in any case.
  /// @return True for the interfaces of the object's class, its earlier versions and IDispatch.
  virtual bool Supports(std::string_view iid) const;

  /// Calls a method by name.
  /// @param name The member's name, in any case.
  /// @param args The arguments; changes a by-reference member makes to them are not returned.
  /// @return The result.
  /// @throws vexcomm::Error 438 for an unknown name, and what Invoke throws.
  Variant Call(std::string_view name, std::vector<Variant> args = {});
  /// Reads a property by name.
  /// @param name The member's name, in any case.
  /// @param args Indexes of a property that takes them; usually none.
  /// @return The value.
  /// @throws vexcomm::Error 438 for an unknown name, and what Invoke throws.
  Variant Get(std::string_view name, std::vector<Variant> args = {});
  /// Writes a property by name.
  /// @param name The member's name, in any case.
  /// @param value The new value, converted by the member as the host language converts.
  /// @throws vexcomm::Error 438 for an unknown name or a read-only property, and what Invoke
  ///   throws (13 for a value that does not convert, 6 for a number out of range).
  void Put(std::string_view name, Variant value);
  /// Finds a member by name.
  /// @param name The member's name, in any case.
  /// @return Its dispatch id.
  /// @throws vexcomm::Error 438 when the object has no such member.
  DispId IdOf(std::string_view name) const;
};

/// Compares member names, ProgIDs and GUIDs: ASCII letters without regard to case, every other
/// byte as it is.
/// @param a A name.
/// @param b Another name.
/// @return True when equal.
/// @thread Any thread.
VEXCOMM_EXPORT bool EqualsNoCase(std::string_view a, std::string_view b) noexcept;

/// One member of a class's late-bound table, listed in slot order.
/// @tparam T The class.
template <class T>
struct Member {
  std::string_view name;  ///< The documented name.
  DispId id;              ///< The documented dispatch id.
  InvokeKind kind;        ///< How it is invoked; a get and a put of a property are two members.
  std::size_t arg_count;  ///< How many arguments a call takes (a put: 1).
  std::function<Variant(T&, Args)> call;  ///< Performs the call on an object.
};

/// Implements Dispatch over a static member table.
/// @tparam T The class: derives from DispatchObject<T> and provides
///   `static const std::vector<Member<T>>& Members();` and `static constexpr std::string_view
///   kTypeName`, and may provide `static std::span<const std::string_view> InterfaceIds()`.
template <class T>
class DispatchObject : public Dispatch {
 public:
  /// @return T::kTypeName.
  std::string_view TypeName() const override { return T::kTypeName; }

  /// Finds a member of T::Members() by name, in any case.
  /// @param name The member's name.
  /// @return Its dispatch id, or nothing.
  std::optional<DispId> GetIdOfName(std::string_view name) const override {
    for (const auto& m : T::Members()) {
      if (EqualsNoCase(m.name, name)) return m.id;
    }
    return std::nullopt;
  }

  /// Calls the member of T::Members() with this id and kind.
  /// @param id The dispatch id.
  /// @param kind How it is called; a property get and a method stand in for each other.
  /// @param args The arguments.
  /// @return The member's result.
  /// @throws vexcomm::Error 438 when no member has this id and kind, 450 when the number of
  ///   arguments differs from the member's, and the member's own errors.
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

  /// Whether the object implements an interface.
  /// @param iid GUID text with braces, in any case.
  /// @return True for one of T::InterfaceIds() and for IDispatch.
  bool Supports(std::string_view iid) const override {
    if constexpr (requires { T::InterfaceIds(); }) {
      for (std::string_view known : T::InterfaceIds()) {
        if (EqualsNoCase(known, iid)) return true;
      }
    }
    return Dispatch::Supports(iid);
  }
};

/// The IDispatch interface identifier that every object answers to.
inline constexpr std::string_view kIidDispatch = "{00020400-0000-0000-C000-000000000046}";

/// Where an object raises its events: hosts attach Dispatch sinks (invoked by dispatch id, as a
/// COM connection point calls them) or, from C++, plain functions.
/// @thread None: used on the thread of the object that raises the events.
class VEXCOMM_EXPORT EventSource {
 public:
  /// A C++ sink: the event's dispatch id and its arguments.
  using Handler = std::function<void(DispId, Args)>;
  /// Identifies an attached sink, for Unadvise.
  using Cookie = uint32_t;

  /// Attaches a late-bound sink: each event invokes its member with the event's dispatch id,
  /// as a method.
  /// @param sink The sink; held until Unadvise.
  /// @return The sink's cookie.
  /// @throws vexcomm::Error 91 for an empty sink.
  Cookie Advise(std::shared_ptr<Dispatch> sink);
  /// Attaches a C++ sink.
  /// @param handler Called with every event; held until Unadvise.
  /// @return The sink's cookie.
  Cookie Advise(Handler handler);
  /// Detaches a sink; it hears nothing more, also of an event being raised. An unknown cookie
  /// is ignored.
  /// @param cookie What Advise returned.
  void Unadvise(Cookie cookie);
  /// @return True when any sink is attached.
  bool HasSinks() const noexcept { return !sinks_.empty(); }
  /// Calls every sink, in the order they were attached. A sink attached meanwhile hears the next
  /// event; what a sink throws is swallowed: a host handler never breaks a run.
  /// @param id The event's dispatch id.
  /// @param args Its arguments; sinks may change by-reference arguments.
  void Raise(DispId id, Args args);
  /// Raise for the C++ handlers only: an event of the C++ surface that late-bound sinks do not
  /// know.
  /// @param id The event's dispatch id.
  /// @param args Its arguments.
  void RaiseToHandlers(DispId id, Args args);
  /// Raise for the Dispatch sinks only.
  /// @param id The event's dispatch id.
  /// @param args Its arguments.
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

/// A host callback object for C++ hosts (VexComm::SetCallback): its one method
/// `callback(kind, text)` calls `fn`.
/// @param fn Called with the kind (CallbackKind) and the text; the text is lent for the call.
/// @return The object. Calling its method with other than two arguments fails with error 450.
/// @thread Any thread; the object is then used on the module's thread.
VEXCOMM_EXPORT std::shared_ptr<Dispatch> MakeCallback(
    std::function<void(int16_t kind, const std::string& text)> fn);

/// A late-bound object built from plain functions, for hosts and tests: each name maps to a
/// function that receives the arguments; "callback" is just one such name. Its members are
/// numbered 1, 2, ... in the order given; every kind of call invokes the function.
/// @param type_name What TypeName() returns.
/// @param methods Names (found in any case) and their functions.
/// @return The object.
/// @thread Any thread.
VEXCOMM_EXPORT std::shared_ptr<Dispatch> MakeDynamicObject(
    std::string type_name,
    std::vector<std::pair<std::string, std::function<Variant(Args)>>> methods);

/// Makes an object of a class registered by ProgID.
using Factory = std::function<std::shared_ptr<Dispatch>()>;
/// Registers a creatable class. The library registers its own at one place (vexcomm::CreateObject
/// does it on its first call).
/// @param prog_id "Library.Class"; replaces the factory of the same ProgID in any case.
/// @param factory Makes an instance.
/// @thread Any thread.
VEXCOMM_EXPORT void RegisterClass(std::string prog_id, Factory factory);
/// Creates an instance of a registered class.
/// @param prog_id The ProgID, in any case.
/// @return The instance.
/// @throws vexcomm::Error 429 ("ActiveX component can't create object: " and the ProgID) for an
///   unknown ProgID, and what the factory throws.
/// @thread Any thread; the instance belongs to the calling thread.
VEXCOMM_EXPORT std::shared_ptr<Dispatch> CreateRegisteredObject(std::string_view prog_id);

}  // namespace vexcomm::automation
