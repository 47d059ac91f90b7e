#pragma once

#include <cstddef>

namespace vexcomm::platform {

// Asks the kernel to back the whole pages of a large buffer with huge pages where it can: a
// large file received into fresh memory otherwise costs a page fault every 4 KiB, and on a
// virtual machine faults cost more than the copy. A hint only; nothing changes when refused.
void AdviseLargeBuffer(void* data, std::size_t size) noexcept;

}  // namespace vexcomm::platform
