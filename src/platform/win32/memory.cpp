#include "platform/memory.h"

// Large pages on Windows need the "lock pages in memory" privilege, which an
// ordinary user does not hold, and must be allocated as such from the start:
// the hint has nothing to do here.
void platform_prefer_large_pages(void* data, std::size_t size) {
  (void)data;
  (void)size;
}
