#include "platform/memory.h"

#include <cstdlib> // defines __GLIBC__ where the C library is glibc

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace vexo::platform {

void ReturnLargeBlocksWhenFreed() {
#if defined(__GLIBC__)
    // A fixed threshold also stops glibc from raising it each time such a block is freed.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
#endif
}

} // namespace vexo::platform
