#include <limits>
#include <mutex>
#include <utility>

#include <vexcomm/deposits.h>
#include <vexcomm/quotes.h>
#include <vexcomm/vexcomm.h>

#include "automation/member_table.h"
#include "component/cls_event.h"
#include "component/module_state.h"
#include "config/persistent_values.h"
#include "platform/host_services.h"
#include "services/messages.h"
#include "socket/tls_socket.h"

namespace vexcomm {

using automation::Args;
using automation::Member;
using automation::Variant;
using automation::VariantArray;

// ---- Module ---------------------------------------------------------------------------------

Module::Module(HostServices host) : state_(std::make_shared<detail::ModuleState>()) {
  auto& run = state_->run;
  run.host = platform::ResolveHostServices(std::move(host));
  // The boxes a Send shows belong to its outcome, whichever procedure showed them.
  detail::ModuleState* raw = state_.get();  // the function lives inside the state it points to
  run.host.message_box = [raw, show = std::move(run.host.message_box)](const std::string& title,
                                                                       const std::string& text) {
    if (raw->sending) services::RecordMessageBox(raw->run, title, text);
    show(title, text);
  };
  component::LoadPersistentValues(*state_);
}

Module::~Module() = default;

Module& Module::Process() {
  // Never destroyed: hosts may release their objects during static destruction.
  static Module* module = new Module();
  return *module;
}

void Module::Post(std::function<void()> fn) {
  // What the host's function throws must not end the wait of a running Send (it would leave
  // the run with nothing stored and no outcome): the run goes on, and the host hears of it.
  std::weak_ptr<detail::ModuleState> weak = state_;
  state_->loop.Post([weak, fn = std::move(fn)] {
    try {
      fn();
    } catch (...) {
      if (auto state = weak.lock()) {
        services::Log(state->run,
                      "Fehler in einer Funktion des Hosts:", services::DescribeCurrentException());
      }
    }
  });
}

std::shared_ptr<ProxySocket> Module::CreateSocket(const SocketOptions& options) {
  return platform::CreateTlsSocket(state_->loop, options, state_->run.host.trace,
                                   state_->run.host.trace_unmasked);
}

void Module::PumpMessages() {
  state_->loop.Poll();
}

void Module::SetMaxFrameBytes(std::size_t bytes) {
  state_->max_frame_bytes = bytes;
}

void Module::SetMaxNonFileFrameBytes(std::size_t bytes) {
  state_->max_non_file_frame_bytes = bytes;
}

Module::ReplyProgress Module::CurrentReplyProgress() const {
  const auto& buffer = state_->receive_buffer;
  return {buffer.octets(), buffer.ExpectedOctets()};
}

void Module::OnReplyProgress(std::function<void(const ReplyProgress&)> fn) {
  state_->on_reply_progress = std::move(fn);
}

// ---- the run's driver ------------------------------------------------------------------------

namespace detail {

void ModuleState::SendFrame(const std::string& frame) {
  if (!sink || !sink->sock()) Raise(errnum::kObjectNotSet);
  sink->sock()->Send(frame);
}

void ModuleState::RaiseNeueDatei(NeueDateiEvent& event) {
  component::RelayNeueDatei(*this, event);
}

void ModuleState::RaiseDelete(const std::string& nummer) {
  component::RelayDelete(*this, nummer);
}

void ModuleState::RaiseSkippedFile(int32_t nummer, const std::string& name) {
  component::RelaySkippedFile(*this, nummer, name);
}

void ModuleState::EndSession() {
  // A run with nothing to request ends at once and leaves no connection open.
  try {
    if (sink && sink->sock()) sink->sock()->Close();
  } catch (...) {
  }
  run.session_done = true;
}

}  // namespace detail

// ---- shared objects -------------------------------------------------------------------------

namespace component {

void CreateSharedObjects(const std::shared_ptr<detail::ModuleState>& shared, VexComm& first) {
  auto& state = *shared;
  auto& run = state.run;
  run.aktien = std::make_shared<colAktien>();
  run.elements = std::make_shared<transport::clsElement>();
  state.sink = std::make_shared<clsEvent>(shared);
  run.fehler = std::make_shared<clsFehler>();
  run.outcome = std::make_shared<RunOutcome>();
  run.festgeld = clsTagesgeld::Create();
  state.events_owner = &first;
  run.tagesgeld = clsTagesgeld::Create();
  run.ini_dir = run.host.text_setting(HostServices::kIniFolderSetting);
  run.data_dir = run.host.text_setting(HostServices::kDataFolderSetting);

  detail::ModuleState* raw = shared.get();  // the functions live inside the state they point to
  run.aktien->SetDatabaseContext(QuoteDbContext{
      run.data_dir, run.ini_dir, run.host.message_box,
      [raw](std::string_view text) { services::Log(raw->run, text, {}); },
      [raw] {
        raw->run.progress_counter += 1;
        services::ReportProgress(raw->run);
      },
      // The host's events run throughout a write, whose statements and commit then run on a
      // thread of their own: the disk never holds up the host's user interface.
      run.host.process_host_events
          ? std::function<void()>([raw] { services::ProcessHostEvents(raw->run, true); })
          : std::function<void()>()});
}

void CancelSend(detail::ModuleState& state) noexcept {
  try {
    auto& run = state.run;
    if (!run.session_done && run.fehler && run.fehler->Code == vcerrNoError) {
      run.fehler->Code = vcerrOther;
      run.fehler->Text = "Benutzer-Abbruch";
    }
    if (!run.session_done) services::SetOutcome(run, OutcomeKind::kCancelled, "Benutzer-Abbruch");
  } catch (...) {
  }
  Close(state);
}

void ReleaseSharedObjects(detail::ModuleState& state) {
  auto& run = state.run;
  run.aktien.reset();
  if (state.sink) state.sink->set_sock(nullptr);
  state.sink.reset();
  state.events_owner = nullptr;
  run.elements.reset();
  run.fehler.reset();
  run.outcome.reset();
  run.tagesgeld.reset();
  run.festgeld.reset();
  run.callback.reset();
}

}  // namespace component

// ---- VexComm --------------------------------------------------------------------------------

VexComm::VexComm(std::shared_ptr<detail::ModuleState> state) : state_(std::move(state)) {}

std::shared_ptr<VexComm> VexComm::Create(Module& module) {
  const auto& state = detail::ModuleAccess::State(module);
  // The constructor is the component's own: hosts create through here.
  std::shared_ptr<VexComm> self(new VexComm(state));
  try {
    if (state->instance_count == std::numeric_limits<int32_t>::max()) Raise(errnum::kOverflow);
    state->instance_count += 1;
    if (state->instance_count == 1) component::CreateSharedObjects(state, *self);
  } catch (...) {
    services::ShowMessageBox(state->run, "Vexcomm.Init", services::DescribeCurrentException());
  }
  return self;
}

VexComm::~VexComm() {
  auto& state = *state_;
  if (state.events_owner == this) state.events_owner = nullptr;
  if (state.sender == this) state.sender = nullptr;
  state.instance_count -= 1;
  if (state.instance_count == 0) component::ReleaseSharedObjects(state);
}

std::shared_ptr<colAktien> VexComm::Aktien() const {
  return state_->run.aktien;
}
std::shared_ptr<clsFehler> VexComm::Fehler() const {
  return state_->run.fehler;
}
std::shared_ptr<RunOutcome> VexComm::Outcome() const {
  return state_->run.outcome;
}
int32_t VexComm::Modus() const {
  return state_->run.modus;
}
void VexComm::SetModus(vexCommModus modus) {
  state_->run.modus = modus;
}
std::shared_ptr<clsTagesgeld> VexComm::Tagesgeld() const {
  return state_->run.tagesgeld;
}
std::shared_ptr<clsTagesgeld> VexComm::Festgeld() const {
  return state_->run.festgeld;
}
std::string VexComm::LogSupport() const {
  return state_->run.log_support;
}
void VexComm::SetLogSupport(std::string text) {
  state_->run.log_support = std::move(text);
}
void VexComm::SetLogDatum(std::string text) {
  state_->run.log_datum = std::move(text);
}
void VexComm::SetLogText(std::string text) {
  state_->run.log_text = std::move(text);
}

void VexComm::SetCallback(std::shared_ptr<automation::Dispatch> obj) {
  state_->run.callback = std::move(obj);
}

void VexComm::SetSocket(std::shared_ptr<automation::Dispatch> obj) {
  auto sock = std::dynamic_pointer_cast<ProxySocket>(obj);
  if (obj && !sock) Raise(errnum::kTypeMismatch);
  if (!state_->sink) Raise(errnum::kObjectNotSet);
  state_->sink->set_sock(std::move(sock));
}

bool VexComm::Send() {
  // Hold the state and this instance: a host handler may release its references inside.
  auto state = state_;
  auto self = weak_from_this().lock();
  if (state->sending) return false;
  if (!state->run.fehler || !state->sink) {
    // The shared objects could not be made: there is nothing to run with.
    services::ShowMessageBox(state->run, "VexComm.Connect",
                             StandardErrorText(errnum::kObjectNotSet));
    return false;
  }
  state->sending = true;
  state->sender = this;
  try {
    component::Run(*state);
  } catch (...) {
  }
  state->sender = nullptr;
  state->sending = false;
  return false;
}

void VexComm::CancelSend() noexcept {
  auto state = state_;
  // Outside a run the NochAufServer of the close is this instance's own.
  const bool own = !state->sending;
  if (own) state->sender = this;
  component::CancelSend(*state);
  if (own) state->sender = nullptr;
}

void VexComm::PostCancelSend() {
  std::weak_ptr<detail::ModuleState> weak = state_;
  state_->loop.Post([weak] {
    auto state = weak.lock();
    if (state && state->sending) component::CancelSend(*state);
  });
}

void VexComm::RefuseFile(std::string reason) {
  auto& run = state_->run;
  if (run.in_file_handler) run.file_refused = std::move(reason);
}

// ---- relays and events ----------------------------------------------------------------------

namespace component {

namespace {

// Late-bound sinks hear a run on the first instance, as documented; typed handlers (the C++
// host's, the Python binding's) on the instance whose Send runs, so a second object's run is
// never delivered to the first object's handlers or to nobody.
void RaiseEvent(detail::ModuleState& state, automation::DispId id, automation::Args args,
                bool to_objects = true) {
  VexComm* owner = state.events_owner;
  VexComm* sender = state.sender ? state.sender : owner;
  if (owner == sender) {
    if (owner && to_objects) owner->Events().Raise(id, args);
    if (owner && !to_objects) owner->Events().RaiseToHandlers(id, args);
    return;
  }
  // The sender is held by its Send; the first instance may be released by a sink meanwhile.
  if (owner && to_objects) owner->Events().RaiseToObjects(id, args);
  if (sender) sender->Events().RaiseToHandlers(id, args);
}

}  // namespace

void RelayNeueDatei(detail::ModuleState& state, NeueDateiEvent& event) {
  if (!state.events_owner && !state.sender) return;
  // Late-bound sinks take Variants; the content is moved in, not copied, and lent to the typed
  // handlers, which read the rest from the event as it was built.
  std::vector<Variant> args;
  args.reserve(10);
  args.emplace_back(event.DateiNummer);
  args.emplace_back(event.DateiName);
  args.emplace_back(event.Typ);
  args.emplace_back(event.VonDatum);
  args.emplace_back(event.BisDatum);
  args.emplace_back(event.AnzeigeDauer);
  args.emplace_back(event.Wichtigkeit);
  args.emplace_back(event.Titel);
  args.emplace_back(event.URL);
  args.emplace_back(std::move(event.Datei));
  // A handler that lets messages run may see the next file's event raised inside its own.
  struct Raising {
    detail::ModuleState& state;
    NeueDateiEvent* outer;
    ~Raising() { state.neue_datei = outer; }
  } raising{state, std::exchange(state.neue_datei, &event)};
  RaiseEvent(state, VexComm::kEventNeueDatei, args);
  // The next large file is received into this one's memory.
  if (auto* content = args[9].get_if<std::string>()) {
    state.receive_buffer.Recycle(std::move(*content));
  }
}

void RelayDelete(detail::ModuleState& state, const std::string& nummer) {
  VariantArray array{Variant(), Variant(nummer)};
  std::vector<Variant> args{Variant(std::move(array))};
  RaiseEvent(state, VexComm::kEventDelete, args);
}

void RelayNochAufServer(detail::ModuleState& state) {
  std::vector<Variant> args{Variant(state.run.cursor.remaining_files())};
  RaiseEvent(state, VexComm::kEventNochAufServer, args);
}

void RelaySkippedFile(detail::ModuleState& state, int32_t nummer, const std::string& name) {
  std::vector<Variant> args{Variant(nummer), Variant(name)};
  RaiseEvent(state, VexComm::kEventSkippedFile, args, false);
}

}  // namespace component

namespace {

// A file handler that fails has not taken its file: the run ends as after RefuseFile, with the
// failure as the reason, and the server keeps the file for the next run.
template <class Fn>
void RunFileHandler(detail::ModuleState& state, Fn&& handler) noexcept {
  try {
    handler();
  } catch (...) {
    auto& run = state.run;
    if (run.in_file_handler && !run.file_refused) {
      run.file_refused = services::DescribeCurrentException();
    }
  }
}

// An event of this id with the arguments the component raises it with; the typed handlers
// read them by position.
bool IsEvent(automation::DispId id, Args a, automation::DispId wanted, std::size_t count) {
  return id == wanted && a.size() == count;
}

}  // namespace

automation::EventSource::Cookie VexComm::OnNeueDatei(
    std::function<void(const NeueDateiEvent&)> fn) {
  std::weak_ptr<detail::ModuleState> weak = state_;
  return events_.Advise([fn = std::move(fn), weak](automation::DispId id, Args a) {
    const auto state = weak.lock();
    if (!IsEvent(id, a, kEventNeueDatei, 10) || !state || !state->neue_datei) return;
    // The content is lent to the handler and given back for the other sinks: a copy of a large
    // file would cost as much as receiving it.
    NeueDateiEvent& event = *state->neue_datei;
    std::string* content = a[9].get_if<std::string>();
    if (content) event.Datei = std::move(*content);
    struct GiveBack {
      std::string* content;
      std::string& lent;
      ~GiveBack() {
        if (content) *content = std::move(lent);
      }
    } give_back{content, event.Datei};
    RunFileHandler(*state, [&] { fn(event); });
  });
}

automation::EventSource::Cookie VexComm::OnDelete(std::function<void(const VariantArray&)> fn) {
  std::weak_ptr<detail::ModuleState> weak = state_;
  return events_.Advise([fn = std::move(fn), weak](automation::DispId id, Args a) {
    const auto state = weak.lock();
    if (!IsEvent(id, a, kEventDelete, 1) || !state) return;
    RunFileHandler(*state, [&] { fn(a[0].ToArray()); });
  });
}

automation::EventSource::Cookie VexComm::OnNochAufServer(std::function<void(int32_t)> fn) {
  return events_.Advise([fn = std::move(fn)](automation::DispId id, Args a) {
    if (IsEvent(id, a, kEventNochAufServer, 1)) fn(a[0].ToInt32());
  });
}

automation::EventSource::Cookie VexComm::OnSkippedFile(
    std::function<void(int32_t nummer, const std::string& name)> fn) {
  return events_.Advise([fn = std::move(fn)](automation::DispId id, Args a) {
    if (IsEvent(id, a, kEventSkippedFile, 2)) fn(a[0].ToInt32(), a[1].ToString());
  });
}

// ---- late-bound surface ---------------------------------------------------------------------

const std::vector<Member<VexComm>>& VexComm::Members() {
  static const std::vector<Member<VexComm>> members =
      automation::MemberTable<VexComm>()
          .Get("Aktien", 0x6803000A, [](VexComm& self) { return self.Aktien(); })
          .Get("Fehler", 0x68030007, [](VexComm& self) { return self.Fehler(); })
          .Get("Modus", 0x68030006, [](VexComm& self) { return self.Modus(); })
          // Any number is stored: the late-bound setter does not check the code.
          .Put("Modus", 0x68030006,
               [](VexComm& self, const Variant& v) {
                 self.SetModus(static_cast<vexCommModus>(v.ToInt32()));
               })
          .Get("Tagesgeld", 0x68030002, [](VexComm& self) { return self.Tagesgeld(); })
          .Method("CancelSend", 0x6003000D, 0, [](VexComm& self, Args) { self.CancelSend(); })
          .Method("Send", 0x6003000E, 0, [](VexComm& self, Args) { return self.Send(); })
          .Method("SetCallback", 0x6003000F, 1,
                  [](VexComm& self, Args a) { self.SetCallback(a[0].ToObject()); })
          .Method("SetSocket", 0x60030010, 1,
                  [](VexComm& self, Args a) { self.SetSocket(a[0].ToObject()); })
          .Get("Festgeld", 0x68030015, [](VexComm& self) { return self.Festgeld(); })
          .Get("LogSupport", 0x6803001D, [](VexComm& self) { return self.LogSupport(); })
          .Put("LogSupport", 0x6803001D,
               [](VexComm& self, const Variant& v) { self.SetLogSupport(v.ToString()); })
          .Put("LogDatum", 0x6803001E,
               [](VexComm& self, const Variant& v) { self.SetLogDatum(v.ToString()); })
          .Put("LogText", 0x6803001F,
               [](VexComm& self, const Variant& v) { self.SetLogText(v.ToString()); })
          // Beyond the documented slots: members for hosts that bind late and need them.
          .Get("Outcome", 0x68030020, [](VexComm& self) { return self.Outcome(); })
          .Method("RefuseFile", 0x60030021, 1,
                  [](VexComm& self, Args a) { self.RefuseFile(a[0].ToString()); })
          .Build();
  return members;
}

std::span<const std::string_view> VexComm::InterfaceIds() {
  static constexpr std::string_view ids[] = {
      com::kIidVexComm,
      "{7CF09781-854C-439C-AD58-A66C7AB5AD18}",
      "{F55A1A2B-9751-44B5-8724-5D4BBD270136}",
      "{F0CF0EE8-9E13-4188-B5F4-A0ABCCD401D9}",
      "{77B0F70C-76B6-426B-AB15-2E98E29DBC34}",
      "{428CD8EF-86F4-4B8E-9A85-709E9E655215}",
      "{DD287744-8ADE-4928-8A18-932227F24712}",
  };
  return ids;
}

std::shared_ptr<automation::Dispatch> CreateObject(std::string_view prog_id) {
  static std::once_flag once;
  std::call_once(once, [] {
    automation::RegisterClass(std::string(com::kProgIdVexComm), [] { return VexComm::Create(); });
    RegisterDepositClasses();
    RegisterQuoteClasses();
  });
  return automation::CreateRegisteredObject(prog_id);
}

}  // namespace vexcomm
