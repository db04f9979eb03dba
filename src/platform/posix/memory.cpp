#include "platform/memory.h"

#include <sys/mman.h>

#include <cstdint>

void platform_prefer_large_pages(void* data, std::size_t size) {
#if defined(MADV_HUGEPAGE)
  // Only the whole large pages inside the block; the advice is a hint, and a
  // refusal (a kernel without them, a block too small) changes nothing.
  constexpr std::uintptr_t kLargePage = std::uintptr_t{2} << 20;
  const auto address = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t begin = (address + kLargePage - 1) & ~(kLargePage - 1);
  const std::uintptr_t end = (address + size) & ~(kLargePage - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)data;
  (void)size;
#endif
}
