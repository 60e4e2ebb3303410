// Clock: wall-clock start plus monotonic time since.

#include "platform/Clock.h"

#include <time.h>

namespace {

ClockSource overrideSource = nullptr;
void* overrideContext = nullptr;

double Seconds(const timespec& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The wall-clock and monotonic readings taken together on the first call.
struct Origin {
  double wall;
  timespec monotonic;
  Origin() {
    timespec realtime{};
    clock_gettime(CLOCK_REALTIME, &realtime);
    clock_gettime(CLOCK_MONOTONIC, &monotonic);
    wall = Seconds(realtime) - kCFAbsoluteTimeIntervalSince1970;
  }
};

}  // namespace

double CFAbsoluteTimeGetCurrent() {
  if (overrideSource) return overrideSource(overrideContext);
  static const Origin origin;
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  // Whole seconds and nanoseconds apart, so that the difference keeps its
  // precision however large the monotonic clock has grown.
  double since = static_cast<double>(now.tv_sec - origin.monotonic.tv_sec) +
                 static_cast<double>(now.tv_nsec - origin.monotonic.tv_nsec) * 1e-9;
  return origin.wall + since;
}

void SetClockOverride(ClockSource source, void* context) {
  overrideSource = source;
  overrideContext = source ? context : nullptr;
}

void FakeClock::Install() { SetClockOverride(&FakeClock::Read, this); }

void FakeClock::Uninstall() {
  if (overrideContext == this) SetClockOverride(nullptr, nullptr);
}

FakeClock::~FakeClock() { Uninstall(); }

double FakeClock::Read(void* self) { return static_cast<FakeClock*>(self)->now; }

double ProcessCPUSeconds() {
  timespec t;
  if (clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t) != 0) return 0;
  return Seconds(t);
}
