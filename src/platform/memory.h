// Memory hints to the operating system. They change how fast memory is
// reached, never what it holds: a system without them simply ignores them.
#pragma once

#include <cstddef>

// Asks that [data, data + size) be backed by large pages where the system
// offers them on request. For a block that is written once and then read all
// over many times (the token list of a large file), this spares the faults
// and translation misses of one small page per 4 KB.
void platform_prefer_large_pages(void* data, std::size_t size);
