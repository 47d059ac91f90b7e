// Python binding: every object of the component reached by name, as a late-binding host would.
#include <pybind11/functional.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <thread>

#include <vexcomm/deposits.h>
#include <vexcomm/quotes.h>
#include <vexcomm/vexcomm.h>

namespace py = pybind11;
using vexcomm::automation::Args;
using vexcomm::automation::Dispatch;
using vexcomm::automation::DispId;
using vexcomm::automation::InvokeKind;
using vexcomm::automation::Variant;
using vexcomm::automation::VariantArray;
using vexcomm::automation::VarType;

namespace {

PyObject* g_error = nullptr;             // vexcomm.Error
PyObject* g_member_not_found = nullptr;  // vexcomm.MemberNotFound (also an AttributeError)

[[noreturn]] void RaisePython(const vexcomm::Error& e) {
  PyObject* type = e.number() == vexcomm::errnum::kMemberNotFound ? g_member_not_found : g_error;
  py::object instance = py::reinterpret_borrow<py::object>(type)(e.description());
  instance.attr("number") = e.number();
  instance.attr("description") = e.description();
  instance.attr("source") = e.source();
  PyErr_SetObject(type, instance.ptr());
  throw py::error_already_set();
}

// The wrapper Python sees for a component object; it remembers the thread that made it, as the
// objects may only be used there.
struct Object {
  std::shared_ptr<Dispatch> dispatch;
  std::thread::id owner = std::this_thread::get_id();
};

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

// The state of a running Send: the exception a handler or Ctrl-C left for after it.
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

// Ctrl-C is seen while Send waits: the host-events hook checks Python's signals.
void ProcessHostEvents() {
  py::gil_scoped_acquire gil;
  if (PyErr_CheckSignals() == 0) return;
  py::error_already_set e;
  HandlerFailed(e, "vexcomm signal check");
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
      return py::cast(Object{obj});
    }
    case VarType::Array: {
      py::list items;
      for (const Variant& item : v.ToArray()) items.append(ToPython(item));
      return items;
    }
  }
  return py::none();
}

std::optional<DispId> PyDispatch::GetIdOfName(std::string_view name) const {
  py::gil_scoped_acquire gil;
  for (std::size_t i = 0; i < names_.size(); ++i) {
    if (vexcomm::automation::EqualsNoCase(names_[i], name)) return static_cast<DispId>(i + 1);
  }
  // Python names are exact; the component may ask in another case.
  std::string found;
  const py::object names = py::module_::import("builtins").attr("dir")(target_);
  for (const py::handle attr : names) {
    const auto text = attr.cast<std::string>();
    if (vexcomm::automation::EqualsNoCase(text, name)) {
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

// Member kinds of the component's own classes, from their tables; another object is asked by a
// property get first.
template <class T>
bool KindsOf(const Dispatch& d, DispId id, bool& method, bool& property) {
  if (dynamic_cast<const T*>(&d) == nullptr) return false;
  for (const auto& m : T::Members()) {
    if (m.id != id) continue;
    if (m.kind == InvokeKind::Method || (m.kind == InvokeKind::PropertyGet && m.arg_count > 0)) {
      method = true;
    }
    if (m.kind == InvokeKind::PropertyGet && m.arg_count == 0) property = true;
  }
  return true;
}

bool IsMethod(const Dispatch& d, DispId id) {
  using namespace vexcomm;
  bool method = false;
  bool property = false;
  const bool known =
      KindsOf<VexComm>(d, id, method, property) || KindsOf<clsFehler>(d, id, method, property) ||
      KindsOf<colAktien>(d, id, method, property) || KindsOf<clsAktie>(d, id, method, property) ||
      KindsOf<clsKurs>(d, id, method, property) || KindsOf<clsTagesgeld>(d, id, method, property) ||
      KindsOf<colTGAnbieter>(d, id, method, property) ||
      KindsOf<clsTGAnbieter>(d, id, method, property) ||
      KindsOf<colTGProdukte>(d, id, method, property) ||
      KindsOf<clsTGProdukt>(d, id, method, property) ||
      KindsOf<colTGZinsen>(d, id, method, property) ||
      KindsOf<clsTGZins>(d, id, method, property) ||
      KindsOf<colFGZinsen>(d, id, method, property) || KindsOf<clsFGZins>(d, id, method, property);
  return known && method && !property;
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

py::object Call(Object& o, DispId id, InvokeKind kind, const py::args& args) {
  std::vector<Variant> values;
  for (const py::handle a : args) values.push_back(FromPython(a));
  try {
    return ToPython(InvokeOn(o, id, kind, std::move(values)));
  } catch (const vexcomm::Error& e) {
    RaisePython(e);
  }
}

DispId IdOf(const Object& o, const std::string& name) {
  CheckThread(o);
  if (auto id = o.dispatch->GetIdOfName(name)) return *id;
  vexcomm::Raise(vexcomm::errnum::kMemberNotFound);
}

// A method of an object, bound by name: calling it invokes the member.
struct BoundMethod {
  Object object;
  DispId id;
  std::string name;
};

py::object GetAttr(Object& o, const std::string& name) {
  if (name.starts_with("__")) throw py::attribute_error(name);
  // The one member another thread may reach: the name table itself is read only.
  auto* vc = dynamic_cast<vexcomm::VexComm*>(o.dispatch.get());
  if (vc != nullptr && vexcomm::automation::EqualsNoCase(name, "CancelSend")) {
    return py::cast(BoundMethod{o, vc->IdOf(name), name});
  }
  DispId id = 0;
  try {
    id = IdOf(o, name);
  } catch (const vexcomm::Error& e) {
    RaisePython(e);
  }
  if (IsMethod(*o.dispatch, id)) {
    return py::cast(BoundMethod{o, id, name});
  }
  return Call(o, id, InvokeKind::PropertyGet, py::args());
}

void SetAttr(Object& o, const std::string& name, const py::object& value) {
  try {
    const DispId id = IdOf(o, name);
    InvokeOn(o, id, InvokeKind::PropertyPut, {FromPython(value)});
  } catch (const vexcomm::Error& e) {
    RaisePython(e);
  }
}

int32_t Count(Object& o) {
  try {
    return InvokeOn(o, IdOf(o, "Count"), InvokeKind::Method, {}).ToInt32();
  } catch (const vexcomm::Error& e) {
    RaisePython(e);
  }
}

// Names of the events, with their dispatch ids.
DispId EventId(const std::string& name) {
  using vexcomm::VexComm;
  if (vexcomm::automation::EqualsNoCase(name, "NeueDatei")) return VexComm::kEventNeueDatei;
  if (vexcomm::automation::EqualsNoCase(name, "Delete")) return VexComm::kEventDelete;
  if (vexcomm::automation::EqualsNoCase(name, "NochAufServer")) return VexComm::kEventNochAufServer;
  throw py::value_error("unknown event: " + name);
}

vexcomm::SocketOptions MakeSocketOptions(const std::string& ca_file, const std::string& connect_to,
                                         const std::string& proxy_host, uint16_t proxy_port,
                                         const std::string& proxy_user,
                                         const std::string& proxy_password, double idle_timeout) {
  vexcomm::SocketOptions options;
  if (idle_timeout > 0) {
    options.idle_timeout = std::chrono::milliseconds(static_cast<int64_t>(idle_timeout * 1000));
  }
  options.ca_file = ca_file;
  options.proxy_host = proxy_host;
  options.proxy_port = proxy_port;
  options.proxy_user = proxy_user;
  options.proxy_password = proxy_password;
  if (!connect_to.empty()) {
    // HOST:PORT:ADDRESS:PORT, as curl's --connect-to.
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (int i = 0; i < 3; ++i) {
      const std::size_t end = connect_to.find(':', start);
      if (end == std::string::npos) throw py::value_error("connect_to: HOST:PORT:ADDRESS:PORT");
      parts.push_back(connect_to.substr(start, end - start));
      start = end + 1;
    }
    parts.push_back(connect_to.substr(start));
    options.connect_to_host = parts[0];
    options.connect_to_port = static_cast<uint16_t>(std::stoi(parts[1]));
    options.connect_to_address = parts[2];
    options.connect_to_address_port = static_cast<uint16_t>(std::stoi(parts[3]));
  }
  return options;
}

}  // namespace

PYBIND11_MODULE(_vexcomm, m) {
  m.doc() = "Late-bound access to the VexComm5 component";
  g_error = PyErr_NewException("vexcomm.Error", PyExc_Exception, nullptr);
  py::tuple bases = py::make_tuple(py::handle(g_error), py::handle(PyExc_AttributeError));
  g_member_not_found = PyErr_NewException("vexcomm.MemberNotFound", bases.ptr(), nullptr);
  m.attr("Error") = py::handle(g_error);
  m.attr("MemberNotFound") = py::handle(g_member_not_found);

  py::class_<BoundMethod>(m, "Method")
      .def("__call__",
           [](BoundMethod& b, const py::args& args) {
             return Call(b.object, b.id, InvokeKind::Method, args);
           })
      .def("__repr__", [](const BoundMethod& b) { return "<vexcomm method " + b.name + ">"; })
      // A method without arguments read as a value, as late binding allows (p.Zinsen[1]).
      .def("__getattr__",
           [](BoundMethod& b, const std::string& name) -> py::object {
             if (name.starts_with("__")) throw py::attribute_error(name);
             const py::object value = Call(b.object, b.id, InvokeKind::Method, py::args());
             return value.attr(name.c_str());
           })
      .def("__getitem__",
           [](BoundMethod& b, const py::object& key) -> py::object {
             const py::object value = Call(b.object, b.id, InvokeKind::Method, py::args());
             return value[key];
           })
      .def("__iter__",
           [](BoundMethod& b) { return py::iter(Call(b.object, b.id, InvokeKind::Method, {})); })
      .def("__len__", [](BoundMethod& b) {
        return py::len(Call(b.object, b.id, InvokeKind::Method, py::args()));
      });

  py::class_<Object>(m, "Object")
      .def("__getattr__", &GetAttr)
      .def("__setattr__", &SetAttr)
      .def("__getitem__",
           [](Object& o, const py::object& key) {
             return Call(o, vexcomm::automation::kDispIdValue, InvokeKind::PropertyGet,
                         py::make_tuple(key));
           })
      .def("__len__", &Count)
      .def("__iter__",
           [](Object& o) {
             // Count and Item: one-based, as the collections number their items.
             py::list items;
             const int32_t n = Count(o);
             try {
               const DispId item = IdOf(o, "Item");
               for (int32_t i = 1; i <= n; ++i) {
                 items.append(ToPython(InvokeOn(o, item, InvokeKind::Method, {Variant(i)})));
               }
             } catch (const vexcomm::Error& e) {
               RaisePython(e);
             }
             return py::iter(items);
           })
      .def("__eq__",
           [](const Object& a, const py::object& b) {
             return py::isinstance<Object>(b) && a.dispatch == b.cast<const Object&>().dispatch;
           })
      .def("__hash__", [](const Object& o) { return std::hash<Dispatch*>()(o.dispatch.get()); })
      .def("__repr__",
           [](const Object& o) {
             return "<vexcomm " + std::string(o.dispatch->TypeName()) + " object>";
           })
      .def_property_readonly("type_name",
                             [](const Object& o) { return std::string(o.dispatch->TypeName()); })
      .def(
          "on",
          [](Object& o, const std::string& event, py::function fn) {
            auto* vc = dynamic_cast<vexcomm::VexComm*>(o.dispatch.get());
            if (vc == nullptr) throw py::type_error("only a VexComm raises events");
            CheckThread(o);
            const DispId wanted = EventId(event);
            // A file handler that raises has not taken its file: it is refused, as RefuseFile
            // does, and the server keeps it for the next run.
            const bool file_event = wanted == vexcomm::VexComm::kEventNeueDatei ||
                                    wanted == vexcomm::VexComm::kEventDelete;
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
                [vc, wanted, file_event, held, release](DispId id, Args args) {
                  if (id != wanted) return;
                  py::gil_scoped_acquire gil;
                  try {
                    py::tuple values(args.size());
                    for (std::size_t i = 0; i < args.size(); ++i) values[i] = ToPython(args[i]);
                    (*held)(*values);
                  } catch (py::error_already_set& e) {
                    if (!file_event) return HandlerFailed(e, "vexcomm event handler");
                    vc->RefuseFile(ExceptionText(e));
                    if (e.matches(PyExc_KeyboardInterrupt))
                      HandlerFailed(e, "vexcomm event handler");
                  }
                });
          },
          py::arg("event"), py::arg("handler"))
      .def("off", [](Object& o, uint32_t cookie) {
        auto* vc = dynamic_cast<vexcomm::VexComm*>(o.dispatch.get());
        if (vc == nullptr) throw py::type_error("only a VexComm raises events");
        CheckThread(o);
        vc->Events().Unadvise(cookie);
      });

  m.def(
      "CreateObject",
      [](const std::string& prog_id) {
        try {
          if (vexcomm::automation::EqualsNoCase(prog_id, vexcomm::com::kProgIdVexComm)) {
            return Object{vexcomm::VexComm::Create(BindingModule())};
          }
          return Object{vexcomm::CreateObject(prog_id)};
        } catch (const vexcomm::Error& e) {
          RaisePython(e);
        }
      },
      py::arg("prog_id"));

  m.def(
      "CreateSocket",
      [](const std::string& ca_file, const std::string& connect_to, const std::string& proxy_host,
         uint16_t proxy_port, const std::string& proxy_user, const std::string& proxy_password,
         double idle_timeout) {
        return Object{std::shared_ptr<Dispatch>(BindingModule().CreateSocket(
            MakeSocketOptions(ca_file, connect_to, proxy_host, proxy_port, proxy_user,
                              proxy_password, idle_timeout)))};
      },
      py::arg("ca_file") = "", py::arg("connect_to") = "", py::arg("proxy_host") = "",
      py::arg("proxy_port") = 0, py::arg("proxy_user") = "", py::arg("proxy_password") = "",
      py::arg("idle_timeout") = 0.0);
}
