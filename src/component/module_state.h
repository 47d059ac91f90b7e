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

namespace vexcomm {

// The shared component state behind every VexComm instance of a module.
struct Module::State {
  platform::MessageLoop loop;
  services::RunState run;
  int32_t instance_count = 0;
  std::shared_ptr<component::clsEvent> sink;
  // The instance bound to the sink's notifications: the first one, while it lives.
  VexComm* events_owner = nullptr;
  bool sending = false;
  transport::FrameAssembler receive_buffer;
  std::function<void(const Module::ReplyProgress&)> on_reply_progress;
  std::size_t max_frame_bytes = Module::kDefaultMaxFrameBytes;
  std::size_t max_non_file_frame_bytes = Module::kDefaultMaxNonFileFrameBytes;
  // Where the last request was sent from, and how many times in a row from there.
  struct RunPosition {
    int32_t modus, step, entry, current_index, datei_nr, remaining_files;
    bool operator==(const RunPosition&) const = default;
  };
  std::optional<RunPosition> sent_at;
  int32_t sends_at_position = 0;
};

}  // namespace vexcomm

namespace vexcomm::component {

// The operation run: builds the list, walks it and ends it.
void Run(Module::State& state);
void Dispatch(Module::State& state);
void Advance(Module::State& state);
void Close(Module::State& state) noexcept;
void ReportOperationName(Module::State& state);

// The reply handlers by reply code, assembled here for the dispatcher.
std::span<const services::ReplyHandlerEntry> ReplyHandlers();

// The session: opens the connection and waits until the run is over.
void OpenAndWait(Module::State& state);
// Reads the identity record and counter afresh (another process may have changed them); false
// when the store cannot be read, which the host has been told of.
bool LoadPersistentValues(Module::State& state);
// Writes back what the run changed of them.
void StorePersistentValues(Module::State& state) noexcept;

// Creation and release of the shared objects with the first and last instance.
void CreateSharedObjects(const std::shared_ptr<Module::State>& state, VexComm& first);
void CancelSend(Module::State& state) noexcept;
void ReleaseSharedObjects(Module::State& state);

}  // namespace vexcomm::component
