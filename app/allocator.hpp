// Allocator settings of the programs. On the virtual machines these programs often run on, the
// first touch of a fresh page costs several microseconds, so large blocks are taken from the
// heap (not mapped afresh for each) and freed memory is kept for the next allocation instead of
// being given back: a later transform or table reuses the pages of an earlier one. The helper
// threads allocate from the same heap, so that what one thread frees another reuses.
#pragma once

#include <malloc.h>

namespace sitewave::app {

inline void keep_freed_memory() {
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 128 << 20);
    mallopt(M_ARENA_MAX, 1);
}

} // namespace sitewave::app
