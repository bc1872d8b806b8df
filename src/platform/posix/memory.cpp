#include "platform/memory.h"

#include <atomic>
#include <cstdlib> // defines __GLIBC__ where the C library is glibc

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace vexo::platform {

#if defined(__GLIBC__)
namespace {
constexpr int kLargeBlock = 4 << 20;
constexpr int kLargestThreshold = 32 << 20; // the most the allocator accepts
std::atomic<bool> managed{false};           // ReturnLargeBlocksWhenFreed was called
} // namespace
#endif

void ReturnLargeBlocksWhenFreed() {
#if defined(__GLIBC__)
    // A fixed threshold also stops glibc from raising it each time such a block is freed.
    mallopt(M_MMAP_THRESHOLD, kLargeBlock);
    // Below it, the heap's top is kept for the next frame instead of being given back and
    // faulted in again for every frame (a fixed threshold would otherwise trim at 128 KB).
    mallopt(M_TRIM_THRESHOLD, 32 << 20);
    managed = true;
#endif
}

void KeepBlocksSmallerThan(unsigned long bytes) {
#if defined(__GLIBC__)
    if (!managed)
        return; // the allocator's own ways are left alone
    const unsigned long threshold = bytes < kLargeBlock         ? kLargeBlock
                                    : bytes > kLargestThreshold ? kLargestThreshold
                                                                : bytes;
    mallopt(M_MMAP_THRESHOLD, static_cast<int>(threshold));
#else
    (void)bytes;
#endif
}

} // namespace vexo::platform
