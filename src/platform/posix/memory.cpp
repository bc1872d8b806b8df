#include "platform/memory.h"

#include <cstdlib> // defines __GLIBC__ where the C library is glibc

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace vexo::platform {

void ReturnLargeBlocksWhenFreed() {
#if defined(__GLIBC__)
    // A fixed threshold also stops glibc from raising it each time such a block is freed.
    mallopt(M_MMAP_THRESHOLD, 4 << 20);
    // Below it, the heap's top is kept for the next frame instead of being given back and
    // faulted in again for every frame (a fixed threshold would otherwise trim at 128 KB).
    mallopt(M_TRIM_THRESHOLD, 32 << 20);
#endif
}

} // namespace vexo::platform
