// Python binding: every object of the component reached by name, as a late-binding host would,
// each class a Python class of its own whose members carry the reference's texts.
#include <pybind11/functional.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <array>
#include <atomic>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include <vexcomm/deposits.h>
#include <vexcomm/quotes.h>
#include <vexcomm/text.h>
#include <vexcomm/version.h>
#include <vexcomm/vexcomm.h>

#include "reference_docs.h"  // made from the public headers' comments

namespace py = pybind11;
using vexcomm::automation::Args;
using vexcomm::automation::Dispatch;
using vexcomm::automation::DispId;
using vexcomm::automation::EqualsNoCase;
using vexcomm::automation::InvokeKind;
using vexcomm::automation::Variant;
using vexcomm::automation::VariantArray;
using vexcomm::automation::VarType;

namespace {

// vexcomm.Error and the subclasses that are also the Python error a caller expects.
PyObject* g_error = nullptr;
PyObject* g_member_not_found = nullptr;  // also an AttributeError
PyObject* g_out_of_range = nullptr;      // also an IndexError
PyObject* g_type_mismatch = nullptr;     // also a TypeError
PyObject* g_wrong_count = nullptr;       // also a TypeError
PyObject* g_overflow = nullptr;          // also an OverflowError

PyObject* ErrorClass(int32_t number) {
  switch (number) {
    case vexcomm::errnum::kMemberNotFound:
      return g_member_not_found;
    case vexcomm::errnum::kSubscriptOutOfRange:
      return g_out_of_range;
    case vexcomm::errnum::kTypeMismatch:
      return g_type_mismatch;
    case vexcomm::errnum::kWrongArgumentCount:
      return g_wrong_count;
    case vexcomm::errnum::kOverflow:
      return g_overflow;
    default:
      return g_error;
  }
}

// The component's error as its Python class; the message says where, the number and the
// description stay as the component gave them.
[[noreturn]] void RaisePython(const vexcomm::Error& e, const std::string& message) {
  PyObject* type = ErrorClass(e.number());
  py::object instance = py::reinterpret_borrow<py::object>(type)(message);
  instance.attr("number") = e.number();
  instance.attr("description") = e.description();
  instance.attr("source") = e.source();
  PyErr_SetObject(type, instance.ptr());
  throw py::error_already_set();
}

[[noreturn]] void RaisePython(const vexcomm::Error& e) {
  RaisePython(e, e.description());
}

// ---- the reference's texts ------------------------------------------------------------------

// Names compare without case and underscores: the late-bound ServerNumber is server_number.
std::string Folded(std::string_view name) {
  std::string out;
  for (char c : name) {
    if (c == '_') continue;
    out += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  }
  return out;
}

const reference::Doc* FindDoc(std::string_view cls, std::string_view member) {
  const std::string wanted = Folded(member);
  for (const auto& doc : reference::kDocs) {
    if (cls == doc.cls && wanted == Folded(doc.member)) return &doc;
  }
  return nullptr;
}

// ---- classes --------------------------------------------------------------------------------

// One member of a class as Python sees it: a property, a write-only property or a method.
struct MemberInfo {
  std::string name;
  bool get = false;
  bool put = false;
  bool method = false;
  int args = -1;    // of the method; -1 when not known
  std::string doc;  // the reference's text, made once
};

struct ClassInfo {
  std::string name;       // the object's TypeName
  std::string doc_class;  // the C++ class whose comments document it
  std::vector<MemberInfo> members;

  const MemberInfo* Find(std::string_view member) const {
    for (const auto& m : members) {
      if (EqualsNoCase(m.name, member)) return &m;
    }
    return nullptr;
  }
  bool collection() const { return Find("Count") && Find("Item"); }
};

template <class T>
ClassInfo InfoOf() {
  ClassInfo info{std::string(T::kTypeName), std::string(T::kTypeName), {}};
  for (const auto& m : T::Members()) {
    MemberInfo* member = nullptr;
    for (auto& known : info.members) {
      if (known.name == m.name) member = &known;
    }
    if (!member) {
      member =
          &info.members.emplace_back(MemberInfo{std::string(m.name), false, false, false, -1, {}});
    }
    const bool indexed_get = m.kind == InvokeKind::PropertyGet && m.arg_count > 0;
    if (m.kind == InvokeKind::Method || indexed_get) {
      member->method = true;
      member->args = static_cast<int>(m.arg_count);
    } else if (m.kind == InvokeKind::PropertyGet) {
      member->get = true;
    } else {
      member->put = true;
    }
  }
  return info;
}

// The socket has no member table: its operations, in the order of its interface.
ClassInfo SocketInfo() {
  ClassInfo info{"VexProxySocket5", "ProxySocket", {}};
  for (const char* name : {"SetSecure", "Close", "Connect", "Send", "CheckCertificate"}) {
    info.members.push_back(MemberInfo{name, false, false, true, -1, {}});
  }
  return info;
}

std::string MemberDoc(const ClassInfo& cls, const MemberInfo& m);

std::vector<ClassInfo>& Classes() {
  using namespace vexcomm;
  static std::vector<ClassInfo> classes = {InfoOf<VexComm>(),       InfoOf<clsFehler>(),
                                           InfoOf<RunOutcome>(),    InfoOf<colAktien>(),
                                           InfoOf<clsAktie>(),      InfoOf<clsKurs>(),
                                           InfoOf<clsTagesgeld>(),  InfoOf<colTGAnbieter>(),
                                           InfoOf<clsTGAnbieter>(), InfoOf<colTGProdukte>(),
                                           InfoOf<clsTGProdukt>(),  InfoOf<colTGZinsen>(),
                                           InfoOf<clsTGZins>(),     InfoOf<colFGZinsen>(),
                                           InfoOf<clsFGZins>(),     SocketInfo()};
  static const bool documented = [] {
    for (auto& cls : classes) {
      for (auto& m : cls.members) m.doc = MemberDoc(cls, m);
    }
    return true;
  }();
  (void)documented;
  return classes;
}
constexpr std::size_t kClassCount = 16;

const ClassInfo* ClassOf(const Dispatch& d) {
  for (const auto& info : Classes()) {
    if (info.name == d.TypeName()) return &info;
  }
  return nullptr;
}

// A member's docstring: its comment (a property's getter and setter), a method's parameters
// first.
std::string MemberDoc(const ClassInfo& cls, const MemberInfo& m) {
  std::string text;
  if (m.method || m.get) {
    if (const auto* doc = FindDoc(cls.doc_class, m.name)) {
      text = m.method ? m.name + doc->parameters + "\n\n" + doc->text : doc->text;
    }
  }
  if (m.put) {
    if (const auto* doc = FindDoc(cls.doc_class, "Set" + m.name)) {
      text += (text.empty() ? "" : "\n\nSetting it: ") + std::string(doc->text);
    } else if (!m.get) {
      if (const auto* doc = FindDoc(cls.doc_class, m.name)) text = doc->text;
    }
  }
  return text;
}

// ---- objects --------------------------------------------------------------------------------

// The wrapper Python sees for a component object; it remembers the thread that made it, as the
// objects may only be used there.
struct Object {
  std::shared_ptr<Dispatch> dispatch;
  std::thread::id owner = std::this_thread::get_id();
};

// One Python class per component class: Typed<I> is the I-th of Classes().
template <std::size_t I>
struct Typed : Object {};

template <std::size_t... I>
py::object Wrap(Object o, std::index_sequence<I...>) {
  using Maker = py::object (*)(Object);
  static constexpr std::array<Maker, sizeof...(I)> makers = {
      [](Object o) { return py::cast(Typed<I>{std::move(o)}); }...};
  const auto& classes = Classes();
  for (std::size_t i = 0; i < classes.size(); ++i) {
    if (classes[i].name == o.dispatch->TypeName()) return makers[i](std::move(o));
  }
  return py::cast(std::move(o));
}

py::object Wrap(Object o) {
  return Wrap(std::move(o), std::make_index_sequence<kClassCount>());
}

std::string TypeNameOf(const Object& o) {
  return std::string(o.dispatch->TypeName());
}

// A Python object handed to the component: its attributes become late-bound members.
class PyDispatch : public Dispatch {
 public:
  explicit PyDispatch(py::object target) : target_(std::move(target)) {}
  ~PyDispatch() override {
    // Released at exit, after the interpreter: nothing left to give back.
    if (!Py_IsInitialized()) {
      target_.release();
      return;
    }
    py::gil_scoped_acquire gil;
    target_ = py::object();
  }
  std::string_view TypeName() const override { return "PythonObject"; }
  std::optional<DispId> GetIdOfName(std::string_view name) const override;
  Variant Invoke(DispId id, InvokeKind kind, Args args) override;
  const py::object& target() const { return target_; }

 private:
  py::object target_;
  mutable std::vector<std::string> names_;
};

// The state of a running Send: the exception a handler, the host-events hook or Ctrl-C left for
// after it.
struct SendState {
  vexcomm::VexComm* running = nullptr;
  std::optional<py::error_already_set> pending;
};
thread_local SendState t_send;

// "Type: message" of a Python exception, for a refusal's reason.
std::string ExceptionText(const py::error_already_set& e) {
  std::string text = py::str(e.type().attr("__name__"));
  const std::string message = py::str(e.value());
  if (!message.empty()) text += ": " + message;
  return text;
}

// A failing Python handler never breaks the run; only an interrupt cancels it.
void HandlerFailed(py::error_already_set& e, const char* where) {
  if (e.matches(PyExc_KeyboardInterrupt)) {
    if (!t_send.pending) t_send.pending.emplace(std::move(e));
    if (t_send.running != nullptr) t_send.running->CancelSend();
    return;
  }
  e.discard_as_unraisable(where);
}

// The host's own event processing (vexcomm.SetHostEvents); owned here, touched under the GIL.
py::object* g_host_events = nullptr;

// Runs inside Send's wait: Ctrl-C is seen here, and the host's GUI gets its turn. A hook that
// fails cancels the run, and its exception is raised when Send returns: a closed window (a
// TclError) must not leave the run going.
void ProcessHostEvents() {
  py::gil_scoped_acquire gil;
  if (PyErr_CheckSignals() != 0) {
    py::error_already_set e;
    HandlerFailed(e, "vexcomm signal check");
    return;
  }
  if (g_host_events == nullptr || t_send.pending) return;
  try {
    (*g_host_events)();
  } catch (py::error_already_set& e) {
    if (t_send.running == nullptr) return e.discard_as_unraisable("vexcomm host events");
    t_send.pending.emplace(std::move(e));
    t_send.running->CancelSend();
  }
}

vexcomm::Module& BindingModule() {
  static vexcomm::Module* module = [] {
    vexcomm::HostServices host;
    host.process_host_events = ProcessHostEvents;
    return new vexcomm::Module(std::move(host));  // lives as long as the process
  }();
  return *module;
}

py::object ToPython(const Variant& v);

Variant FromPython(const py::handle& h) {
  if (h.is_none()) return Variant();
  if (py::isinstance<py::bool_>(h)) return Variant(h.cast<bool>());
  if (py::isinstance<py::int_>(h)) {
    const long long n = h.cast<long long>();
    if (n >= INT32_MIN && n <= INT32_MAX) return Variant(static_cast<int32_t>(n));
    return Variant(static_cast<double>(n));
  }
  if (py::isinstance<py::float_>(h)) return Variant(h.cast<double>());
  if (py::isinstance<py::str>(h)) return Variant(h.cast<std::string>());
  if (py::isinstance<Object>(h)) return Variant(h.cast<Object&>().dispatch);
  if (py::isinstance<py::list>(h) || py::isinstance<py::tuple>(h)) {
    VariantArray items;
    for (const py::handle item : h) items.push_back(FromPython(item));
    return Variant(std::move(items));
  }
  // Dates as the component holds them: day, month and year as text.
  if (py::hasattr(h, "strftime") && py::hasattr(h, "toordinal")) {
    return Variant(h.attr("strftime")("%d.%m.%Y").cast<std::string>());
  }
  return Variant(std::shared_ptr<Dispatch>(
      std::make_shared<PyDispatch>(py::reinterpret_borrow<py::object>(h))));
}

py::object ToPython(const Variant& v) {
  switch (v.type()) {
    case VarType::Empty:
    case VarType::Null:
      return py::none();
    case VarType::Bool:
      return py::bool_(*v.get_if<bool>());
    case VarType::Int16:
      return py::int_(*v.get_if<int16_t>());
    case VarType::Int32:
      return py::int_(*v.get_if<int32_t>());
    case VarType::Double:
      return py::float_(*v.get_if<double>());
    case VarType::String:
      return py::str(*v.get_if<std::string>());
    case VarType::Object: {
      const auto& obj = *v.get_if<std::shared_ptr<Dispatch>>();
      if (!obj) return py::none();
      if (auto* p = dynamic_cast<PyDispatch*>(obj.get())) return p->target();
      return Wrap(Object{obj});
    }
    case VarType::Array: {
      py::list items;
      for (const Variant& item : v.ToArray()) items.append(ToPython(item));
      return items;
    }
  }
  return py::none();
}

// NeueDatei's content as the server sent it: the text turned back into its octets, straight into
// the bytes object (Python's cp1252 codec lacks five of them).
py::object OctetsOf(const Variant& v) {
  const std::string* text = v.get_if<std::string>();
  if (text == nullptr) return ToPython(v);
  PyObject* octets = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(text->size()));
  if (octets == nullptr) throw py::error_already_set();
  const std::size_t n = vexcomm::Utf8ToCp1252(*text, PyBytes_AS_STRING(octets));
  if (_PyBytes_Resize(&octets, static_cast<Py_ssize_t>(n)) != 0) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(octets);
}

std::optional<DispId> PyDispatch::GetIdOfName(std::string_view name) const {
  py::gil_scoped_acquire gil;
  for (std::size_t i = 0; i < names_.size(); ++i) {
    if (EqualsNoCase(names_[i], name)) return static_cast<DispId>(i + 1);
  }
  // Python names are exact; the component may ask in another case.
  std::string found;
  const py::object names = py::module_::import("builtins").attr("dir")(target_);
  for (const py::handle attr : names) {
    const auto text = attr.cast<std::string>();
    if (EqualsNoCase(text, name)) {
      found = text;
      break;
    }
  }
  if (found.empty()) return std::nullopt;
  names_.push_back(found);
  return static_cast<DispId>(names_.size());
}

Variant PyDispatch::Invoke(DispId id, InvokeKind kind, Args args) {
  py::gil_scoped_acquire gil;
  if (id < 1 || static_cast<std::size_t>(id) > names_.size()) {
    vexcomm::Raise(vexcomm::errnum::kMemberNotFound);
  }
  const std::string& name = names_[static_cast<std::size_t>(id - 1)];
  try {
    if (kind == InvokeKind::PropertyPut) {
      if (args.size() != 1) vexcomm::Raise(vexcomm::errnum::kWrongArgumentCount);
      py::setattr(target_, name.c_str(), ToPython(args[0]));
      return Variant();
    }
    py::object member = target_.attr(name.c_str());
    if (!PyCallable_Check(member.ptr())) return FromPython(member);
    py::tuple call_args(args.size());
    for (std::size_t i = 0; i < args.size(); ++i) call_args[i] = ToPython(args[i]);
    return FromPython(member(*call_args));
  } catch (py::error_already_set& e) {
    HandlerFailed(e, name.c_str());
    return Variant();
  }
}

void CheckThread(const Object& o) {
  if (o.owner != std::this_thread::get_id()) {
    throw vexcomm::Error(vexcomm::errnum::kInvalidCall,
                         "the object belongs to another thread (only CancelSend may be called "
                         "from there)");
  }
}

Variant InvokeOn(Object& o, DispId id, InvokeKind kind, std::vector<Variant> args) {
  auto* vc = dynamic_cast<vexcomm::VexComm*>(o.dispatch.get());
  if (vc != nullptr && id == vc->IdOf("CancelSend") && o.owner != std::this_thread::get_id()) {
    vc->PostCancelSend();
    return Variant();
  }
  CheckThread(o);
  if (vc == nullptr || id != vc->IdOf("Send")) {
    return o.dispatch->Invoke(id, kind, Args(args));
  }
  // Send waits for the server: Python threads run meanwhile, and handlers take the GIL back.
  SendState saved = std::move(t_send);
  t_send = SendState{vc, std::nullopt};
  Variant result;
  {
    py::gil_scoped_release release;
    result = o.dispatch->Invoke(id, kind, Args(args));
  }
  std::optional<py::error_already_set> pending = std::move(t_send.pending);
  t_send = std::move(saved);
  if (pending) throw std::move(*pending);
  return result;
}

// The message of a failed call: the class and the member, then what went wrong.
[[noreturn]] void RaiseFromMember(const vexcomm::Error& e, const Object& o,
                                  const std::string& member, std::size_t given) {
  const ClassInfo* cls = ClassOf(*o.dispatch);
  const MemberInfo* m = cls ? cls->Find(member) : nullptr;
  const std::string where = TypeNameOf(o) + "." + (m ? m->name : member);
  if (e.number() == vexcomm::errnum::kWrongArgumentCount && m && m->args >= 0) {
    RaisePython(e, where + "() takes " + std::to_string(m->args) + " argument" +
                       (m->args == 1 ? "" : "s") + ", not " + std::to_string(given));
  }
  RaisePython(e, where + ": " + e.description());
}

// vexcomm.OutcomeKind, made at import.
py::object* g_outcome_kind = nullptr;

py::object Call(Object& o, DispId id, InvokeKind kind, const std::string& member,
                const py::tuple& args) {
  std::vector<Variant> values;
  for (const py::handle a : args) values.push_back(FromPython(a));
  const std::size_t given = values.size();
  try {
    Variant result = InvokeOn(o, id, kind, std::move(values));
    // The kind of a run's outcome is one of the kinds the package names.
    if (kind == InvokeKind::PropertyGet && EqualsNoCase(member, "Kind") &&
        dynamic_cast<vexcomm::RunOutcome*>(o.dispatch.get())) {
      return (*g_outcome_kind)(ToPython(result));
    }
    return ToPython(result);
  } catch (const vexcomm::Error& e) {
    RaiseFromMember(e, o, member, given);
  }
}

[[noreturn]] void NoMember(const Object& o, const std::string& name) {
  RaisePython(vexcomm::Error(vexcomm::errnum::kMemberNotFound,
                             vexcomm::StandardErrorText(vexcomm::errnum::kMemberNotFound)),
              TypeNameOf(o) + " has no member '" + name + "'");
}

DispId IdOf(const Object& o, const std::string& name) {
  try {
    CheckThread(o);
  } catch (const vexcomm::Error& e) {
    RaiseFromMember(e, o, name, 0);
  }
  if (auto id = o.dispatch->GetIdOfName(name)) return *id;
  NoMember(o, name);
}

// A method of an object, bound by name: calling it invokes the member.
struct BoundMethod {
  Object object;
  DispId id;
  std::string name;
  const std::string* doc;  // the member's, as long as the process
};

py::object GetAttr(Object& o, const std::string& name) {
  if (name.starts_with("__")) throw py::attribute_error(name);
  const ClassInfo* cls = ClassOf(*o.dispatch);
  const MemberInfo* m = cls ? cls->Find(name) : nullptr;
  if (cls && !m) NoMember(o, name);
  // The one member another thread may reach: the name table itself is read only.
  auto* vc = dynamic_cast<vexcomm::VexComm*>(o.dispatch.get());
  if (vc != nullptr && EqualsNoCase(name, "CancelSend")) {
    return py::cast(BoundMethod{o, vc->IdOf(name), m->name, &m->doc});
  }
  const DispId id = IdOf(o, name);
  if (m && m->method) return py::cast(BoundMethod{o, id, m->name, &m->doc});
  if (m && !m->get) {
    RaisePython(vexcomm::Error(vexcomm::errnum::kMemberNotFound,
                               vexcomm::StandardErrorText(vexcomm::errnum::kMemberNotFound)),
                TypeNameOf(o) + "." + m->name + " can only be set");
  }
  return Call(o, id, InvokeKind::PropertyGet, name, py::tuple());
}

void SetAttr(Object& o, const std::string& name, const py::object& value) {
  const ClassInfo* cls = ClassOf(*o.dispatch);
  const MemberInfo* m = cls ? cls->Find(name) : nullptr;
  if (cls && !m) NoMember(o, name);
  if (m && !m->put) {
    RaisePython(vexcomm::Error(vexcomm::errnum::kMemberNotFound,
                               vexcomm::StandardErrorText(vexcomm::errnum::kMemberNotFound)),
                TypeNameOf(o) + "." + m->name + " is read-only");
  }
  const DispId id = IdOf(o, name);
  try {
    InvokeOn(o, id, InvokeKind::PropertyPut, {FromPython(value)});
  } catch (const vexcomm::Error& e) {
    RaiseFromMember(e, o, name, 1);
  }
}

py::object CallMember(Object& o, const std::string& name, const py::tuple& args) {
  return Call(o, IdOf(o, name), InvokeKind::Method, name, args);
}

int32_t Count(Object& o) {
  return CallMember(o, "Count", py::tuple()).cast<int32_t>();
}

// Collections number their items from 1, as the component does; outside is an IndexError.
py::object Item(Object& o, const py::handle& key) {
  if (!py::isinstance<py::int_>(key) || py::isinstance<py::bool_>(key)) {
    RaisePython(vexcomm::Error(vexcomm::errnum::kTypeMismatch,
                               vexcomm::StandardErrorText(vexcomm::errnum::kTypeMismatch)),
                TypeNameOf(o) + " indices are integers from 1, not " +
                    std::string(py::str(key.get_type().attr("__name__"))));
  }
  const long long index = key.cast<long long>();
  const int32_t count = Count(o);
  if (index < 1 || index > count) {
    RaisePython(vexcomm::Error(vexcomm::errnum::kSubscriptOutOfRange,
                               vexcomm::StandardErrorText(vexcomm::errnum::kSubscriptOutOfRange)),
                TypeNameOf(o) + " index " + std::to_string(index) + " is not in 1.." +
                    std::to_string(count));
  }
  return CallMember(o, "Item", py::make_tuple(static_cast<int32_t>(index)));
}

// Names of the events, with their dispatch ids.
DispId EventId(const std::string& name) {
  using vexcomm::VexComm;
  if (EqualsNoCase(name, "NeueDatei")) return VexComm::kEventNeueDatei;
  if (EqualsNoCase(name, "Delete")) return VexComm::kEventDelete;
  if (EqualsNoCase(name, "NochAufServer")) return VexComm::kEventNochAufServer;
  throw py::value_error("VexComm has no event '" + name + "' (NeueDatei, Delete, NochAufServer)");
}

uint32_t On(Object& o, const std::string& event, py::function fn, bool as_bytes) {
  auto* vc = dynamic_cast<vexcomm::VexComm*>(o.dispatch.get());
  try {
    CheckThread(o);
  } catch (const vexcomm::Error& e) {
    RaiseFromMember(e, o, "on", 0);
  }
  const DispId wanted = EventId(event);
  if (as_bytes && wanted != vexcomm::VexComm::kEventNeueDatei) {
    throw py::value_error("as_bytes: only NeueDatei carries a file's content");
  }
  // A file handler that raises has not taken its file: it is refused, as RefuseFile does, and
  // the server keeps it for the next run.
  const bool file_event =
      wanted == vexcomm::VexComm::kEventNeueDatei || wanted == vexcomm::VexComm::kEventDelete;
  auto held = std::make_shared<py::function>(std::move(fn));
  auto release = std::shared_ptr<void>(nullptr, [held](void*) mutable {
    if (!Py_IsInitialized()) {
      held->release();
      return;
    }
    py::gil_scoped_acquire gil;
    held.reset();
  });
  return vc->Events().Advise(
      [vc, wanted, file_event, held, release, as_bytes](DispId id, Args args) {
        if (id != wanted) return;
        py::gil_scoped_acquire gil;
        try {
          py::tuple values(args.size());
          for (std::size_t i = 0; i < args.size(); ++i) {
            values[i] = as_bytes && i == 9 ? OctetsOf(args[i]) : ToPython(args[i]);
          }
          (*held)(*values);
        } catch (py::error_already_set& e) {
          if (!file_event) return HandlerFailed(e, "vexcomm event handler");
          vc->RefuseFile(ExceptionText(e));
          if (e.matches(PyExc_KeyboardInterrupt)) HandlerFailed(e, "vexcomm event handler");
        }
      });
}

// Attaches each member to its class as a property with the reference's text: `help()` shows
// them, `dir()` lists them, and reading one goes the way any name does.
void AddMembers(const ClassInfo& cls, const py::object& type) {
  const py::object property = py::module_::import("builtins").attr("property");
  for (const auto& m : cls.members) {
    const std::string name = m.name;
    py::cpp_function get([name](Object& o) { return GetAttr(o, name); }, py::name(name.c_str()),
                         py::is_method(type));
    type.attr(name.c_str()) = property(get, py::none(), py::none(), m.doc);
  }
}

template <std::size_t I>
void AddClass(py::module_& m) {
  ClassInfo& cls = Classes()[I];
  const reference::Doc* doc = FindDoc(cls.doc_class, "");
  py::class_<Typed<I>, Object> type(m, cls.name.c_str(), doc ? doc->text : "");
  if (cls.collection()) {
    type.def("__len__", &Count).def("__getitem__", &Item).def("__iter__", [](Object& o) {
      py::list items;
      const int32_t n = Count(o);
      for (int32_t i = 1; i <= n; ++i) {
        items.append(CallMember(o, "Item", py::make_tuple(i)));
      }
      return py::iter(items);
    });
  }
  if (cls.name == vexcomm::VexComm::kTypeName) {
    type.def("on", &On, py::arg("event"), py::arg("handler"), py::arg("as_bytes") = false,
             "Calls handler with the arguments of each event (NeueDatei, Delete or "
             "NochAufServer, in any case) of this object's runs, on the thread of Send. A "
             "NeueDatei or Delete handler that raises refuses its file, as RefuseFile does. "
             "With as_bytes, NeueDatei's content comes as bytes, the octets the server sent. "
             "Returns a cookie for off().")
        .def(
            "off",
            [](Object& o, uint32_t cookie) {
              dynamic_cast<vexcomm::VexComm&>(*o.dispatch).Events().Unadvise(cookie);
            },
            py::arg("cookie"), "Detaches the handler that on() returned this cookie for.");
  }
  AddMembers(cls, type);
}

template <std::size_t... I>
void AddClasses(py::module_& m, std::index_sequence<I...>) {
  (AddClass<I>(m), ...);
}

// The enumerations of the headers as IntEnums, each with its values' texts.
void AddEnums(py::module_& m) {
  const py::object int_enum = py::module_::import("enum").attr("IntEnum");
  for (const auto& e : reference::kEnums) {
    py::list values;
    std::string doc = e.text;
    doc += "\n";
    for (const auto& v : reference::kEnumValues) {
      if (std::string_view(v.enumeration) != e.cls) continue;
      values.append(py::make_tuple(v.name, v.value));
      doc += "\n" + std::string(v.name) + " = " + std::to_string(v.value) + ": " + v.text;
    }
    py::object type = int_enum(e.cls, values, py::arg("module") = "vexcomm");
    type.attr("__doc__") = doc;
    m.attr(e.cls) = type;
  }
  g_outcome_kind = new py::object(m.attr("OutcomeKind"));  // as long as the process
}

void SetHostEvents(const py::object& fn) {
  if (!fn.is_none() && !PyCallable_Check(fn.ptr())) {
    throw py::type_error("SetHostEvents wants a callable or None");
  }
  delete g_host_events;
  g_host_events = fn.is_none() ? nullptr : new py::object(fn);
}

std::chrono::milliseconds Milliseconds(std::optional<double> seconds,
                                       std::chrono::milliseconds fallback) {
  if (!seconds) return fallback;
  return std::chrono::milliseconds(static_cast<int64_t>(*seconds * 1000 + 0.5));
}

// The socket options, checked by the package's CreateSocket before they come here.
py::object CreateSocket(const std::string& ca_file, const std::string& proxy_host, int proxy_port,
                        const std::string& proxy_user, const std::string& proxy_password,
                        const std::string& connect_to_host, int connect_to_port,
                        const std::string& connect_to_address, int connect_to_address_port,
                        std::optional<double> connect_timeout, std::optional<double> idle_timeout,
                        std::optional<double> reply_timeout, std::optional<std::size_t> speed_limit,
                        std::optional<double> speed_time,
                        std::vector<std::string> pinned_public_keys) {
  vexcomm::SocketOptions options;
  options.ca_file = ca_file;
  options.proxy_host = proxy_host;
  options.proxy_port = static_cast<uint16_t>(proxy_port);
  options.proxy_user = proxy_user;
  options.proxy_password = proxy_password;
  options.connect_to_host = connect_to_host;
  options.connect_to_port = static_cast<uint16_t>(connect_to_port);
  options.connect_to_address = connect_to_address;
  options.connect_to_address_port = static_cast<uint16_t>(connect_to_address_port);
  options.connect_timeout = Milliseconds(connect_timeout, options.connect_timeout);
  options.idle_timeout = Milliseconds(idle_timeout, options.idle_timeout);
  options.reply_timeout = Milliseconds(reply_timeout, options.reply_timeout);
  options.speed_limit = speed_limit.value_or(options.speed_limit);
  options.speed_time = Milliseconds(speed_time, options.speed_time);
  options.pinned_public_keys = std::move(pinned_public_keys);
  return Wrap(Object{std::shared_ptr<Dispatch>(BindingModule().CreateSocket(options))});
}

// The reference's text of a C++ class or member, for the package's own docstrings.
std::string ReferenceDoc(const std::string& cls, const std::string& member) {
  const reference::Doc* doc = FindDoc(cls, member);
  return doc ? doc->text : "";
}

PyObject* NewError(const char* name, PyObject* also) {
  py::tuple bases = also ? py::make_tuple(py::handle(g_error), py::handle(also))
                         : py::make_tuple(py::handle(PyExc_Exception));
  return PyErr_NewExceptionWithDoc(name, nullptr, bases.ptr(), nullptr);
}

}  // namespace

PYBIND11_MODULE(_vexcomm, m) {
  m.doc() = "Late-bound access to the VexComm5 component";
  // The classes are the package's: vexcomm.VexComm, as errors and reprs name them.
  m.attr("__module__") = "vexcomm";
  g_error = NewError("vexcomm.Error", nullptr);
  g_member_not_found = NewError("vexcomm.MemberNotFound", PyExc_AttributeError);
  g_out_of_range = NewError("vexcomm.SubscriptOutOfRange", PyExc_IndexError);
  g_type_mismatch = NewError("vexcomm.TypeMismatch", PyExc_TypeError);
  g_wrong_count = NewError("vexcomm.WrongArgumentCount", PyExc_TypeError);
  g_overflow = NewError("vexcomm.Overflow", PyExc_OverflowError);
  m.attr("Error") = py::handle(g_error);
  m.attr("MemberNotFound") = py::handle(g_member_not_found);
  m.attr("SubscriptOutOfRange") = py::handle(g_out_of_range);
  m.attr("TypeMismatch") = py::handle(g_type_mismatch);
  m.attr("WrongArgumentCount") = py::handle(g_wrong_count);
  m.attr("Overflow") = py::handle(g_overflow);
  m.attr("__version__") = VEXCOMM_VERSION_STRING;

  py::class_<BoundMethod>(m, "Method", "A member of a component object, bound by name.")
      .def("__call__",
           [](BoundMethod& b, const py::args& args) {
             return Call(b.object, b.id, InvokeKind::Method, b.name, args);
           })
      .def("__repr__", [](const BoundMethod& b) { return "<vexcomm method " + b.name + ">"; })
      .def_property_readonly("__doc__", [](const BoundMethod& b) { return *b.doc; })
      // A method without arguments read as a value, as late binding allows (p.Zinsen[1]).
      .def("__getattr__",
           [](BoundMethod& b, const std::string& name) -> py::object {
             if (name.starts_with("__")) throw py::attribute_error(name);
             const py::object value = Call(b.object, b.id, InvokeKind::Method, b.name, py::tuple());
             return value.attr(name.c_str());
           })
      .def("__getitem__",
           [](BoundMethod& b, const py::object& key) -> py::object {
             const py::object value = Call(b.object, b.id, InvokeKind::Method, b.name, py::tuple());
             return value[key];
           })
      .def("__iter__",
           [](BoundMethod& b) {
             return py::iter(Call(b.object, b.id, InvokeKind::Method, b.name, py::tuple()));
           })
      .def("__len__", [](BoundMethod& b) {
        return py::len(Call(b.object, b.id, InvokeKind::Method, b.name, py::tuple()));
      });

  if (Classes().size() != kClassCount) throw std::logic_error("kClassCount is out of date");
  py::class_<Object> object(m, "Object", "An object of the component, reached by name.");
  object.def("__getattr__", &GetAttr)
      .def("__setattr__", &SetAttr)
      .def("__eq__",
           [](const Object& a, const py::object& b) {
             return py::isinstance<Object>(b) && a.dispatch == b.cast<const Object&>().dispatch;
           })
      .def("__hash__", [](const Object& o) { return std::hash<Dispatch*>()(o.dispatch.get()); })
      .def("__repr__", [](const Object& o) { return "<vexcomm " + TypeNameOf(o) + " object>"; })
      .def_property_readonly("type_name", &TypeNameOf, "The component's name of the class.");
  AddClasses(m, std::make_index_sequence<kClassCount>());
  AddEnums(m);
  py::delattr(m, "__module__");

  m.def(
      "CreateObject",
      [](const std::string& prog_id) {
        try {
          if (EqualsNoCase(prog_id, vexcomm::com::kProgIdVexComm)) {
            return Wrap(Object{vexcomm::VexComm::Create(BindingModule())});
          }
          return Wrap(Object{vexcomm::CreateObject(prog_id)});
        } catch (const vexcomm::Error& e) {
          RaisePython(e);
        }
      },
      py::arg("prog_id"),
      "Creates an object by ProgID, in any case: \"VexComm5.VexComm\" (on the package's own "
      "module, whose wait checks for Ctrl-C and runs SetHostEvents' function), "
      "\"VexComm5.colAktien\", \"VexComm5.clsAktie\", or \"VexComm5.\" and a class of the "
      "deposit trees. Raises vexcomm.Error 429 for an unknown ProgID.");
  m.def("SetHostEvents", &SetHostEvents, py::arg("process_host_events"),
        "Runs process_host_events (a GUI toolkit's \"process pending events\": tkinter's "
        "root.update, Qt's QApplication.processEvents) inside Send, so the user interface stays "
        "alive: throughout the wait at least every 20 ms, and once after each reply. Code it "
        "runs may call CancelSend or set Modus; a nested Send is refused. If it raises, the run "
        "is cancelled and the exception is raised when Send returns. None removes it."),
      m.def("_create_socket", &CreateSocket, py::kw_only(), py::arg("ca_file"),
            py::arg("proxy_host"), py::arg("proxy_port"), py::arg("proxy_user"),
            py::arg("proxy_password"), py::arg("connect_to_host"), py::arg("connect_to_port"),
            py::arg("connect_to_address"), py::arg("connect_to_address_port"),
            py::arg("connect_timeout"), py::arg("idle_timeout"), py::arg("reply_timeout"),
            py::arg("speed_limit"), py::arg("speed_time"), py::arg("pinned_public_keys"));
  m.def("_reference_doc", &ReferenceDoc, py::arg("cls"), py::arg("member"));
}
