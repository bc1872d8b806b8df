// How the program's memory is managed by the system's allocator.
#pragma once

namespace vexo::platform {

// Blocks of a few megabytes and more (frame buffers, large compressed frames) go back to the
// system as soon as they are freed. Left to itself, the allocator keeps such blocks once
// freed and, with frames of varying sizes made on several threads, keeps more and more of
// them. Called once at start-up.
void ReturnLargeBlocksWhenFreed();

// Blocks smaller than bytes are kept for reuse once freed, as blocks below a few megabytes
// always are. A stream sets this to the size of one whole picture of its frames: its
// compressed frames, made and freed for every frame, are then reused instead of being handed
// back and faulted in again each time, while whole pictures and frame buffers still go back.
// Has an effect only once ReturnLargeBlocksWhenFreed has been called.
void KeepBlocksSmallerThan(unsigned long bytes);

} // namespace vexo::platform
