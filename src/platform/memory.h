// How the program's memory is managed by the system's allocator.
#pragma once

namespace vexo::platform {

// Blocks of a few megabytes and more (frame buffers, large compressed frames) go back to the
// system as soon as they are freed. Left to itself, the allocator keeps such blocks once
// freed and, with frames of varying sizes made on several threads, keeps more and more of
// them. Called once at start-up.
void ReturnLargeBlocksWhenFreed();

} // namespace vexo::platform
