// Verbose: the --verbose lines.

#include "platform/Verbose.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace {
std::atomic<bool> gVerbose{false};
}

void SetVerbose(bool on) { gVerbose.store(on, std::memory_order_relaxed); }

bool Verbose() { return gVerbose.load(std::memory_order_relaxed); }

namespace {

void Say(const char* format, va_list arguments) {
  char text[1200];
  std::vsnprintf(text, sizeof text, format, arguments);
  // One call per line: stdio locks the stream, so lines of several threads
  // stay whole.
  std::fprintf(stderr, "glymmer: %s\n", text);
}

}  // namespace

void VerboseLine(const char* format, ...) {
  if (!Verbose()) return;
  va_list arguments;
  va_start(arguments, format);
  Say(format, arguments);
  va_end(arguments);
}

void SayLine(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  Say(format, arguments);
  va_end(arguments);
}
