// Clock: the host's clock, CFAbsoluteTimeGetCurrent, for frame pacing and the
// random seed.
#pragma once

// Seconds since the host's reference date (1 January 2001, 00:00 UTC) as a
// double. Readings never run backwards within a process: the wall-clock time
// of the first reading plus the monotonic time elapsed since, so frame pacing
// survives changes to the system clock and the seed still differs between
// runs. While an override is installed (below) its readings are returned
// unchanged instead. Not for use from several threads at once.
double CFAbsoluteTimeGetCurrent();

// CPU time, in seconds, that the whole process has used so far: every
// thread's, a software renderer's included. Never overridden; 0 when the
// system cannot tell.
double ProcessCPUSeconds();

// Seconds between the Unix epoch and the host's reference date.
constexpr double kCFAbsoluteTimeIntervalSince1970 = 978307200.0;

// A replacement clock: returns the current time in seconds; `context` is the
// pointer given to SetClockOverride.
typedef double (*ClockSource)(void* context);

// Makes CFAbsoluteTimeGetCurrent return source(context) until the override is
// removed with SetClockOverride(nullptr, nullptr). For tests and for the
// headless renderer's virtual clock (glymmer --render), which drive views
// with chosen times. The context must outlive the override.
void SetClockOverride(ClockSource source, void* context);

// A settable clock to install with SetClockOverride: CFAbsoluteTimeGetCurrent
// then reads `now`, which the owner advances as it likes.
struct FakeClock {
  double now = 0.0;
  // Installs this clock as the override; Uninstall (or destruction) removes it.
  void Install();
  void Uninstall();
  ~FakeClock();
  static double Read(void* self);
};
