#pragma once
// How the process's heap keeps large blocks. The live previews decode tens of frames a second
// (0.9 MB each on the wall, 3.7 MB selected) on the worker threads and free them on the GUI thread.
// glibc's malloc maps a large block from the system on its own, but raises that threshold to the
// largest mapped block freed so far; from then on frames come from the per-thread arenas, which keep
// what is freed, and as workers come and go each arena grows to its own high water: resident memory
// climbs for hours in a sawtooth whose levels rise. With a fixed threshold every frame-sized block
// is mapped on its own and returned to the system when freed, and the arenas hold small blocks only.

#include <cstddef>

namespace velk::heap {

// Blocks of at least this size are mapped apart from the arenas (a wall frame is 921,600 bytes).
inline constexpr std::size_t largeBlockBytes = 256 * 1024;

// Fixes the threshold at `largeBlockBytes`; call once at start, before the worker threads run.
// False where the C library has no such setting (or a sanitizer's allocator stands in for it).
bool mapLargeBlocksApart();

} // namespace velk::heap
