// Memory: how the process's allocator is tuned for a program that runs for days.
#pragma once

// Fixes the C library's thresholds for giving big blocks their own mappings
// and for trimming the heap. Left dynamic, glibc raises the mapping threshold
// each time a big block (a picture's colour grid) is freed, so later grids
// land on the heap and it grows by fragments over hours of picture changes.
// Call once, early in main.
void TuneAllocatorForLongRuns();
