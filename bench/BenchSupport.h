// BenchSupport: what several benchmarks need: large camera-like JPEGs made
// from a shipped picture (nothing that large is kept in the repository), the
// process's peak memory, sleeping until a clock reading, a headless view.
#pragma once

#include <string>

class GlymmerView;
class NSWindow;

// Writes `out`, a width × height JPEG (quality 90): the picture at `source`
// scaled bilinearly, with a little deterministic noise so that it compresses
// like a camera photo rather than like a smooth enlargement. False when the
// source cannot be read or the file cannot be written.
bool MakePhoto(const std::string& source, const std::string& out, int width, int height);

// MakePhoto in a child process, so that its buffers stay out of the caller's
// peak memory.
bool MakePhotoApart(const std::string& source, const std::string& out, int width, int height);

// The process's peak resident memory so far, KiB.
long PeakKiB();

// Sleeps until CFAbsoluteTimeGetCurrent reads `when` (at once if it has).
void SleepUntil(double when);

// A new headless view of width × height in `window`, started and given its
// first tick, which sets the scene up; the caller deletes it.
GlymmerView* StartHeadlessView(int width, int height, NSWindow* window);
