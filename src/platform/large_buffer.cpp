#include "platform/large_buffer.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace vexcomm::platform {

void AdviseLargeBuffer(void* data, std::size_t size) noexcept {
#ifdef MADV_HUGEPAGE
  static const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const auto begin = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t first = (begin + page - 1) / page * page;
  const std::uintptr_t last = (begin + size) / page * page;
  if (last > first) {
    ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
  }
#else
  (void)data;
  (void)size;
#endif
}

}  // namespace vexcomm::platform
