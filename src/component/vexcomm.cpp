#include <limits>
#include <mutex>

#include <vexcomm/deposits.h>
#include <vexcomm/quotes.h>
#include <vexcomm/vexcomm.h>

#include "component/cls_event.h"
#include "component/module_state.h"
#include "config/persistent_values.h"
#include "platform/host_services.h"
#include "platform/socket/tls_socket.h"
#include "services/messages.h"

namespace vexcomm {

using automation::Args;
using automation::InvokeKind;
using automation::Member;
using automation::Variant;
using automation::VariantArray;

// ---- Module ---------------------------------------------------------------------------------

Module::Module(HostServices host) : state_(std::make_shared<State>()) {
  auto& run = state_->run;
  run.host = platform::ResolveHostServices(std::move(host));
  component::LoadPersistentValues(*state_);
}

Module::~Module() = default;

Module& Module::Process() {
  // Never destroyed: hosts may release their objects during static destruction.
  static Module* module = new Module();
  return *module;
}

void Module::Post(std::function<void()> fn) {
  state_->loop.Post(std::move(fn));
}

std::shared_ptr<ProxySocket> Module::CreateSocket(const SocketOptions& options) {
  return platform::CreateTlsSocket(state_->loop, options, state_->run.host.trace);
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

// ---- shared objects -------------------------------------------------------------------------

namespace component {

void CreateSharedObjects(const std::shared_ptr<Module::State>& shared, VexComm& first) {
  auto& state = *shared;
  auto& run = state.run;
  run.aktien = std::make_shared<colAktien>();
  run.elements = std::make_shared<transport::clsElement>();
  state.sink = std::make_shared<clsEvent>(shared);
  run.fehler = std::make_shared<clsFehler>();
  run.festgeld = clsTagesgeld::Create();
  state.events_owner = &first;
  run.tagesgeld = clsTagesgeld::Create();
  run.ini_dir = run.host.text_setting(3);
  run.data_dir = run.host.text_setting(5);

  Module::State* raw = shared.get();  // the hooks live inside the state they point to
  run.send_frame = [raw](const std::string& frame) {
    if (!raw->sink || !raw->sink->sock()) Raise(errnum::kObjectNotSet);
    raw->sink->sock()->Send(frame);
  };
  run.raise_neue_datei = [raw] {
    if (raw->events_owner) raw->events_owner->RelayNeueDatei();
  };
  run.raise_delete = [raw] {
    if (raw->events_owner) raw->events_owner->RelayDelete();
  };
  run.raise_skipped_file = [raw](int32_t nummer, const std::string& name) {
    if (raw->events_owner) raw->events_owner->RelaySkippedFile(nummer, name);
  };
  // A run with nothing to request ends at once and leaves no connection open.
  run.end_session = [raw] {
    try {
      if (raw->sink && raw->sink->sock()) raw->sink->sock()->Close();
    } catch (...) {
    }
    raw->run.session_done = true;
  };
  run.aktien->SetDatabaseContext(
      QuoteDbContext{run.data_dir, run.ini_dir, run.host.message_box,
                     [raw](std::string_view text) { services::Log(raw->run, text, {}); },
                     [raw] {
                       raw->run.progress_counter += 1;
                       services::ReportProgress(raw->run);
                       // A long write lets the host's user interface breathe between stocks.
                       services::ProcessHostEvents(raw->run, true);
                     }});
}

void CancelSend(Module::State& state) noexcept {
  try {
    auto& run = state.run;
    if (!run.session_done && run.fehler && run.fehler->Code == vcerrNoError) {
      run.fehler->Code = vcerrOther;
      run.fehler->Text = "Benutzer-Abbruch";
    }
  } catch (...) {
  }
  Close(state);
}

void ReleaseSharedObjects(Module::State& state) {
  auto& run = state.run;
  run.aktien.reset();
  if (state.sink) state.sink->set_sock(nullptr);
  state.sink.reset();
  state.events_owner = nullptr;
  run.elements.reset();
  run.fehler.reset();
  run.tagesgeld.reset();
  run.festgeld.reset();
  run.callback.reset();
}

}  // namespace component

// ---- VexComm --------------------------------------------------------------------------------

VexComm::VexComm(std::shared_ptr<Module::State> state) : state_(std::move(state)) {}

std::shared_ptr<VexComm> VexComm::Create(Module& module) {
  const auto& state = module.state();
  auto self = std::make_shared<VexComm>(state);
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
  state.instance_count -= 1;
  if (state.instance_count == 0) component::ReleaseSharedObjects(state);
}

std::shared_ptr<colAktien> VexComm::Aktien() const {
  return state_->run.aktien;
}
std::shared_ptr<clsFehler> VexComm::Fehler() const {
  return state_->run.fehler;
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
  try {
    component::Run(*state);
  } catch (...) {
  }
  state->sending = false;
  return false;
}

void VexComm::CancelSend() noexcept {
  auto state = state_;
  component::CancelSend(*state);
}

void VexComm::PostCancelSend() {
  std::weak_ptr<Module::State> weak = state_;
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

void VexComm::RelayNeueDatei() {
  auto values = services::TakeNeueDatei(*state_->run.elements);
  if (!values) return;
  // Built by moving: an initializer list would copy every value, the file's content included.
  std::vector<Variant> args;
  args.reserve(10);
  args.emplace_back(values->DateiNummer);
  args.emplace_back(std::move(values->DateiName));
  args.emplace_back(std::move(values->Typ));
  args.emplace_back(std::move(values->VonDatum));
  args.emplace_back(std::move(values->BisDatum));
  args.emplace_back(values->AnzeigeDauer);
  args.emplace_back(values->Wichtigkeit);
  args.emplace_back(std::move(values->Titel));
  args.emplace_back(std::move(values->URL));
  args.emplace_back(std::move(values->Datei));
  events_.Raise(kEventNeueDatei, args);
  // The next large file is received into this one's memory.
  if (auto* content = args[9].get_if<std::string>()) {
    state_->receive_buffer.Recycle(std::move(*content));
  }
}

void VexComm::RelayDelete() {
  VariantArray array{Variant(), Variant(state_->run.elements->Item(14))};
  std::vector<Variant> args{Variant(std::move(array))};
  events_.Raise(kEventDelete, args);
}

void VexComm::RelayNochAufServer() {
  std::vector<Variant> args{Variant(state_->run.remaining_files)};
  events_.Raise(kEventNochAufServer, args);
}

void VexComm::RelaySkippedFile(int32_t nummer, const std::string& name) {
  std::vector<Variant> args{Variant(nummer), Variant(name)};
  events_.RaiseToHandlers(kEventSkippedFile, args);
}

automation::EventSource::Cookie VexComm::OnNeueDatei(
    std::function<void(const NeueDateiEvent&)> fn) {
  return events_.Advise([fn = std::move(fn)](automation::DispId id, Args a) {
    if (id != kEventNeueDatei || a.size() != 10) return;
    // The content is lent to the handler, not copied, and given back for the other sinks:
    // a copy of a large file would cost as much as receiving it.
    std::string* content = a[9].get_if<std::string>();
    NeueDateiEvent e{a[0].ToInt32(),  a[1].ToString(),
                     a[2].ToString(), a[3].ToString(),
                     a[4].ToString(), a[5].ToInt32(),
                     a[6].ToInt32(),  a[7].ToString(),
                     a[8].ToString(), content ? std::move(*content) : a[9].ToString()};
    struct GiveBack {
      std::string* content;
      std::string& lent;
      ~GiveBack() {
        if (content) *content = std::move(lent);
      }
    } give_back{content, e.Datei};
    fn(e);
  });
}

automation::EventSource::Cookie VexComm::OnDelete(std::function<void(const VariantArray&)> fn) {
  return events_.Advise([fn = std::move(fn)](automation::DispId id, Args a) {
    if (id == kEventDelete && a.size() == 1) fn(a[0].ToArray());
  });
}

automation::EventSource::Cookie VexComm::OnNochAufServer(std::function<void(int32_t)> fn) {
  return events_.Advise([fn = std::move(fn)](automation::DispId id, Args a) {
    if (id == kEventNochAufServer && a.size() == 1) fn(a[0].ToInt32());
  });
}

automation::EventSource::Cookie VexComm::OnSkippedFile(
    std::function<void(int32_t nummer, const std::string& name)> fn) {
  return events_.Advise([fn = std::move(fn)](automation::DispId id, Args a) {
    if (id == kEventSkippedFile && a.size() == 2) fn(a[0].ToInt32(), a[1].ToString());
  });
}

// ---- late-bound surface ---------------------------------------------------------------------

const std::vector<Member<VexComm>>& VexComm::Members() {
  static const std::vector<Member<VexComm>> members = {
      {"Aktien", 0x6803000A, InvokeKind::PropertyGet, 0,
       [](VexComm& v, Args) {
         return Variant(std::static_pointer_cast<automation::Dispatch>(v.Aktien()));
       }},
      {"Fehler", 0x68030007, InvokeKind::PropertyGet, 0,
       [](VexComm& v, Args) {
         return Variant(std::static_pointer_cast<automation::Dispatch>(v.Fehler()));
       }},
      {"Modus", 0x68030006, InvokeKind::PropertyGet, 0,
       [](VexComm& v, Args) { return Variant(v.Modus()); }},
      {"Modus", 0x68030006, InvokeKind::PropertyPut, 1,
       [](VexComm& v, Args a) {
         v.SetModus(static_cast<vexCommModus>(a[0].ToInt32()));
         return Variant();
       }},
      {"Tagesgeld", 0x68030002, InvokeKind::PropertyGet, 0,
       [](VexComm& v, Args) {
         return Variant(std::static_pointer_cast<automation::Dispatch>(v.Tagesgeld()));
       }},
      {"CancelSend", 0x6003000D, InvokeKind::Method, 0,
       [](VexComm& v, Args) {
         v.CancelSend();
         return Variant();
       }},
      {"Send", 0x6003000E, InvokeKind::Method, 0,
       [](VexComm& v, Args) { return Variant(v.Send()); }},
      {"SetCallback", 0x6003000F, InvokeKind::Method, 1,
       [](VexComm& v, Args a) {
         v.SetCallback(a[0].ToObject());
         return Variant();
       }},
      {"SetSocket", 0x60030010, InvokeKind::Method, 1,
       [](VexComm& v, Args a) {
         v.SetSocket(a[0].ToObject());
         return Variant();
       }},
      {"Festgeld", 0x68030015, InvokeKind::PropertyGet, 0,
       [](VexComm& v, Args) {
         return Variant(std::static_pointer_cast<automation::Dispatch>(v.Festgeld()));
       }},
      {"LogSupport", 0x6803001D, InvokeKind::PropertyGet, 0,
       [](VexComm& v, Args) { return Variant(v.LogSupport()); }},
      {"LogSupport", 0x6803001D, InvokeKind::PropertyPut, 1,
       [](VexComm& v, Args a) {
         v.SetLogSupport(a[0].ToString());
         return Variant();
       }},
      {"LogDatum", 0x6803001E, InvokeKind::PropertyPut, 1,
       [](VexComm& v, Args a) {
         v.SetLogDatum(a[0].ToString());
         return Variant();
       }},
      {"LogText", 0x6803001F, InvokeKind::PropertyPut, 1,
       [](VexComm& v, Args a) {
         v.SetLogText(a[0].ToString());
         return Variant();
       }},
  };
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
