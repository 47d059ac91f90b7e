#include <map>
#include <mutex>

#include <vexcomm/dispatch.h>

namespace vexcomm::automation {

Dispatch::~Dispatch() = default;

bool Dispatch::Supports(std::string_view iid) const {
  return EqualsNoCase(iid, kIidDispatch);
}

DispId Dispatch::IdOf(std::string_view name) const {
  auto id = GetIdOfName(name);
  if (!id) Raise(errnum::kMemberNotFound);
  return *id;
}

Variant Dispatch::Call(std::string_view name, std::vector<Variant> args) {
  return Invoke(IdOf(name), InvokeKind::Method, args);
}

Variant Dispatch::Get(std::string_view name, std::vector<Variant> args) {
  return Invoke(IdOf(name), InvokeKind::PropertyGet, args);
}

void Dispatch::Put(std::string_view name, Variant value) {
  Variant args[] = {std::move(value)};
  Invoke(IdOf(name), InvokeKind::PropertyPut, args);
}

bool EqualsNoCase(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

EventSource::Cookie EventSource::Advise(std::shared_ptr<Dispatch> sink) {
  if (!sink) vexcomm::Raise(errnum::kObjectNotSet);
  sinks_.push_back({next_cookie_, std::move(sink), nullptr, std::make_shared<bool>(true)});
  return next_cookie_++;
}

EventSource::Cookie EventSource::Advise(Handler handler) {
  sinks_.push_back({next_cookie_, nullptr, std::make_shared<Handler>(std::move(handler)),
                    std::make_shared<bool>(true)});
  return next_cookie_++;
}

void EventSource::Unadvise(Cookie cookie) {
  std::erase_if(sinks_, [cookie](const Sink& s) {
    if (s.cookie != cookie) return false;
    *s.advised = false;
    return true;
  });
}

void EventSource::Raise(DispId id, Args args) {
  RaiseTo(id, args, true, true);
}

void EventSource::RaiseToHandlers(DispId id, Args args) {
  RaiseTo(id, args, false, true);
}

void EventSource::RaiseToObjects(DispId id, Args args) {
  RaiseTo(id, args, true, false);
}

void EventSource::RaiseTo(DispId id, Args args, bool objects) {
  RaiseTo(id, args, objects, true);
}

void EventSource::RaiseTo(DispId id, Args args, bool objects, bool handlers) {
  // A copy: a handler may attach or detach sinks while the event is delivered, or release
  // this source. A sink detached meanwhile hears no more of the event.
  auto sinks = sinks_;
  for (const auto& sink : sinks) {
    if (!*sink.advised) continue;
    try {
      if (sink.object) {
        if (objects) sink.object->Invoke(id, InvokeKind::Method, args);
      } else if (sink.handler && handlers) {
        (*sink.handler)(id, args);
      }
    } catch (...) {
      // A host's event handler must not break the component's run.
    }
  }
}

namespace {

class DynamicObject final : public Dispatch {
 public:
  DynamicObject(std::string type_name,
                std::vector<std::pair<std::string, std::function<Variant(Args)>>> methods)
      : type_name_(std::move(type_name)), methods_(std::move(methods)) {}

  std::string_view TypeName() const override { return type_name_; }

  std::optional<DispId> GetIdOfName(std::string_view name) const override {
    for (std::size_t i = 0; i < methods_.size(); ++i) {
      if (EqualsNoCase(methods_[i].first, name)) return static_cast<DispId>(i + 1);
    }
    return std::nullopt;
  }

  Variant Invoke(DispId id, InvokeKind, Args args) override {
    if (id < 1 || static_cast<std::size_t>(id) > methods_.size()) Raise(errnum::kMemberNotFound);
    return methods_[static_cast<std::size_t>(id) - 1].second(args);
  }

 private:
  std::string type_name_;
  std::vector<std::pair<std::string, std::function<Variant(Args)>>> methods_;
};

struct ClassTable {
  std::mutex mutex;
  std::vector<std::pair<std::string, Factory>> factories;
};

ClassTable& Classes() {
  static ClassTable table;
  return table;
}

}  // namespace

std::shared_ptr<Dispatch> MakeDynamicObject(
    std::string type_name,
    std::vector<std::pair<std::string, std::function<Variant(Args)>>> methods) {
  return std::make_shared<DynamicObject>(std::move(type_name), std::move(methods));
}

std::shared_ptr<Dispatch> MakeCallback(std::function<void(int16_t, const std::string&)> fn) {
  return MakeDynamicObject("Callback", {{"callback", [fn = std::move(fn)](Args args) -> Variant {
                                           if (args.size() != 2) Raise(errnum::kWrongArgumentCount);
                                           // Text is lent, not copied: a line may be long.
                                           if (const auto* text = args[1].get_if<std::string>()) {
                                             fn(args[0].ToInt16(), *text);
                                           } else {
                                             fn(args[0].ToInt16(), args[1].ToString());
                                           }
                                           return {};
                                         }}});
}

void RegisterClass(std::string prog_id, Factory factory) {
  auto& table = Classes();
  std::lock_guard lock(table.mutex);
  for (auto& [id, f] : table.factories) {
    if (EqualsNoCase(id, prog_id)) {
      f = std::move(factory);
      return;
    }
  }
  table.factories.emplace_back(std::move(prog_id), std::move(factory));
}

std::shared_ptr<Dispatch> CreateRegisteredObject(std::string_view prog_id) {
  Factory factory;
  {
    auto& table = Classes();
    std::lock_guard lock(table.mutex);
    for (const auto& [id, f] : table.factories) {
      if (EqualsNoCase(id, prog_id)) factory = f;
    }
  }
  if (!factory) throw Error(429, StandardErrorText(429) + ": " + std::string(prog_id));
  return factory();
}

}  // namespace vexcomm::automation
