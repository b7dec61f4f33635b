// Allocator settings of the programs. On the virtual machines these programs often run on, the
// first touch of a fresh 4 KiB page of memory costs about 12 us, while a 2 MiB huge page costs
// about 100 to 150 us for all of its 512 pages. So:
//  - large blocks are taken from the heap (not mapped afresh for each), and freed memory is kept
//    for the next allocation instead of being given back: a later transform or table reuses the
//    pages of an earlier one;
//  - the helper threads allocate from the same heap, so that what one thread frees another
//    reuses;
//  - the heap goes on in huge pages, where the system has them for the asking (transparent huge
//    pages in "madvise" mode): the mid-size run takes about 70 page faults instead of 220. The
//    first 32 MiB go so: room for an equivalent-linear run's H1 and H2 at once (the loop's arrays
//    take about 6 MiB a component at 8192 samples and twenty sublayers), which then takes about
//    110 page faults instead of 2300. Pages are committed only where touched.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <malloc.h>
#include <sys/mman.h>

namespace sitewave::app {

// The block that fills the heap up to the boundary, kept for the life of the program.
inline void* heap_fill = nullptr;

// Marks `bytes` of the heap, from a 2 MiB boundary on, for huge pages, before anything touches
// them, and has the heap's next allocations come from there (glibc's heap: blocks are taken from
// the start of its free top, each with a 16-byte header before it). The heap is first made to
// reach far enough, then a block taken from its top and freed again shows where the top starts;
// a block then fills the top up to the boundary, so that the following ones start on it. Where
// the blocks do not fall so, the marked pages are used once the heap reaches them.
inline void heap_in_huge_pages(std::size_t bytes) {
    constexpr std::uintptr_t huge = std::uintptr_t{2} << 20;
    // Volatile: the blocks are taken for where they fall, and must not be optimized away.
    void* volatile reach = std::malloc(bytes + 2 * huge);
    if (reach == nullptr) {
        return;
    }
    std::free(reach);
    // Larger than the free blocks left below the top, so taken from the top.
    void* volatile probe = std::malloc(huge / 4);
    if (probe == nullptr) {
        return;
    }
    const auto top = reinterpret_cast<std::uintptr_t>(static_cast<void*>(probe));
    std::free(probe);
    const std::uintptr_t boundary = (top + huge / 4 + huge - 1) & ~(huge - 1);
    ::madvise(reinterpret_cast<void*>(boundary), bytes, MADV_HUGEPAGE);
    heap_fill = std::malloc(boundary - top - 16);
}

inline void keep_freed_memory() {
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 128 << 20);
    mallopt(M_ARENA_MAX, 1);
#if !defined(__SANITIZE_ADDRESS__) // the sanitizer's allocator lays out its heap its own way
    heap_in_huge_pages(std::size_t{32} << 20);
#endif
}

} // namespace sitewave::app
