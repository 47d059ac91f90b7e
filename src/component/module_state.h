#pragma once

#include <filesystem>
#include <memory>
#include <optional>

#include <vexcomm/vexcomm.h>

#include "platform/message_loop.h"
#include "services/reply_dispatcher.h"
#include "services/run_state.h"
#include "transport/frame.h"

namespace vexcomm::component {
class clsEvent;
}

namespace vexcomm::detail {

// The shared component state behind every VexComm instance of a module; it drives the run.
struct ModuleState final : services::RunDriver {
  ModuleState() { run.driver = this; }
  ModuleState(const ModuleState&) = delete;
  ModuleState& operator=(const ModuleState&) = delete;

  void SendFrame(const std::string& frame) override;
  void RaiseNeueDatei(NeueDateiEvent& event) override;
  void RaiseDelete(const std::string& nummer) override;
  void RaiseSkippedFile(int32_t nummer, const std::string& name) override;
  void EndSession() override;

  platform::MessageLoop loop;
  services::RunState run;
  int32_t instance_count = 0;
  std::shared_ptr<component::clsEvent> sink;
  // The instance bound to the sink's notifications: the first one, while it lives.
  VexComm* events_owner = nullptr;
  bool sending = false;
  transport::FrameAssembler receive_buffer;
  std::function<void(const Module::ReplyProgress&)> on_reply_progress;
  // The file event being raised: typed handlers read it as it was built, not from Variants.
  NeueDateiEvent* neue_datei = nullptr;
  std::size_t max_frame_bytes = Module::kDefaultMaxFrameBytes;
  std::size_t max_non_file_frame_bytes = Module::kDefaultMaxNonFileFrameBytes;
  // Where the last request was sent from, and how many times in a row from there.
  struct RunPosition {
    int32_t modus, step, entry, stock_position, datei_nr, remaining_files;
    bool operator==(const RunPosition&) const = default;
  };
  std::optional<RunPosition> sent_at;
  int32_t sends_at_position = 0;
  // What the current connection attempt was refused for (its certificate, the proxy), for the
  // error that ends it.
  struct AttemptRefusal {
    OutcomeKind kind;
    std::string detail;
  };
  std::optional<AttemptRefusal> attempt_refusal;
  // Closing: Close does not run again from inside its own NochAufServer.
  bool closing = false;
  // The instance whose Send runs (or whose CancelSend closes): its typed handlers hear the run.
  VexComm* sender = nullptr;
};

// What the library and its tests reach behind the public classes.
struct ModuleAccess {
  static const std::shared_ptr<ModuleState>& State(const Module& module) { return module.state_; }
};

}  // namespace vexcomm::detail

namespace vexcomm::component {

// The operation run: builds the list, walks it and ends it.
void Run(detail::ModuleState& state);
void Dispatch(detail::ModuleState& state);
void Advance(detail::ModuleState& state);
void Close(detail::ModuleState& state) noexcept;
void ReportOperationName(detail::ModuleState& state);

// The reply handlers by reply code, assembled here for the dispatcher.
std::span<const services::ReplyHandlerEntry> ReplyHandlers();

// The session: opens the connection and waits until the run is over.
void OpenAndWait(detail::ModuleState& state);
// Reads the identity record and counter afresh (another process may have changed them); false
// when the store cannot be read, which the host has been told of (and `notice` holds).
bool LoadPersistentValues(detail::ModuleState& state, std::string* notice = nullptr);
// Writes back what the run changed of them.
void StorePersistentValues(detail::ModuleState& state) noexcept;

// Creation and release of the shared objects with the first and last instance.
void CreateSharedObjects(const std::shared_ptr<detail::ModuleState>& state, VexComm& first);
void CancelSend(detail::ModuleState& state) noexcept;
void ReleaseSharedObjects(detail::ModuleState& state);

// The relays of the sink's notifications: they raise the public events on the first instance.
void RelayNeueDatei(detail::ModuleState& state, NeueDateiEvent& event);
void RelayDelete(detail::ModuleState& state, const std::string& nummer);
void RelayNochAufServer(detail::ModuleState& state);
void RelaySkippedFile(detail::ModuleState& state, int32_t nummer, const std::string& name);

}  // namespace vexcomm::component
