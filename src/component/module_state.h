#pragma once

#include <filesystem>
#include <memory>

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
  std::size_t max_frame_bytes = Module::kDefaultMaxFrameBytes;
  std::size_t max_non_file_frame_bytes = Module::kDefaultMaxNonFileFrameBytes;
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
void StorePersistentValues(Module::State& state) noexcept;

// Creation and release of the shared objects with the first and last instance.
void CreateSharedObjects(const std::shared_ptr<Module::State>& state, VexComm& first);
void CancelSend(Module::State& state) noexcept;
void ReleaseSharedObjects(Module::State& state);

}  // namespace vexcomm::component
