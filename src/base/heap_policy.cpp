#include "base/heap_policy.hpp"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace velk::heap {

bool mapLargeBlocksApart() {
#if defined(__GLIBC__)
    // Setting the threshold also stops malloc from moving it (and the trim threshold with it).
    return mallopt(M_MMAP_THRESHOLD, static_cast<int>(largeBlockBytes)) == 1;
#else
    return false;
#endif
}

} // namespace velk::heap
