// Memory: allocator tuning for long runs.

#include "platform/Memory.h"

#include <malloc.h>

void TuneAllocatorForLongRuns() {
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
  mallopt(M_TRIM_THRESHOLD, 128 * 1024);
  // The GL driver's threads would each grow an arena of their own.
  mallopt(M_ARENA_MAX, 1);
}
