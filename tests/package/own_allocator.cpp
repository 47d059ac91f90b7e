// A host's own global allocator, as counting and debugging allocators are: each block carries a
// header in front, so a block the library frees must have come from here, and one that did not
// is freed at the wrong address.
#include <cstdlib>
#include <new>

namespace {
constexpr std::size_t kHeader = 16;
}  // namespace

void* operator new(std::size_t size) {
  void* block = std::malloc(size + kHeader);
  if (block == nullptr) throw std::bad_alloc();
  return static_cast<char*>(block) + kHeader;
}

void operator delete(void* p) noexcept {
  if (p != nullptr) std::free(static_cast<char*>(p) - kHeader);
}

void operator delete(void* p, std::size_t) noexcept {
  operator delete(p);
}
