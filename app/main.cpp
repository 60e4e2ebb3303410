// glymmer: Glymmer's own engine. It creates the screen-saver views, drives
// them on one thread and ends them in order.

#include "Engine.h"
#include "Options.h"

#include "host/SettingOverrides.h"
#include "platform/DisplaySystem.h"
#include "platform/Memory.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

volatile std::sig_atomic_t gStopSignal = 0;

// Whether a stop signal is a normal way out (exit status 0) rather than a
// cut-short run (128 + the signal).
static volatile std::sig_atomic_t gStopExitsCleanly = 0;
// Seconds the run has to end in order after a stop signal.
constexpr unsigned kStopGrace = 5;

static void OnStopSignal(int signal) {
  if (gStopSignal) return;
  gStopSignal = signal;
  // A run stuck in the GL driver (its X server gone, say) never returns to
  // its loop; the alarm ends it all the same.
  alarm(kStopGrace);
}

// Set by EndWithin: the status to end with when the alarm comes first.
static volatile std::sig_atomic_t gOverdueStatus = -1;

static void OnStopOverdue(int) {
  if (gOverdueStatus >= 0) _exit(gOverdueStatus);
  _exit(gStopExitsCleanly ? 0 : 128 + gStopSignal);
}

void EndWithin(unsigned seconds, int status) {
  gOverdueStatus = status;
  alarm(seconds);
}

void InstallStopHandlers() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  action.sa_handler = OnStopOverdue;
  sigaction(SIGALRM, &action, nullptr);
}

int main(int argc, char** argv) {
  TuneAllocatorForLongRuns();
  Options options;
  std::string error;
  if (!ParseOptions(argc, argv, &options, &error)) {
    std::fprintf(stderr, "glymmer: %s\n", error.c_str());
    return 2;
  }
  if (options.showHelp) {
    std::fputs(UsageText().c_str(), stdout);
    return 0;
  }
  if (options.showVersion) {
    std::printf("glymmer %s\n", GLYMMER_VERSION);
    return 0;
  }
  if (options.mode == RunMode::Configure && options.settingsGiven) {
    // The dialog saves what it shows: a run's settings would end up stored.
    std::fprintf(stderr,
                 "glymmer: setting options apply to one run; --configure changes the stored "
                 "settings and takes none\n");
    return 2;
  }
  // Every view this process creates applies them after loading the store.
  *ProcessSettingOverrides() = options.overrides;
  InstallStopHandlers();
  RunMode mode = options.mode;
  if (mode == RunMode::Default) {
    DisplayBackend backend;
    if (!options.backendGiven && !DisplayBackendFromEnvironment(&backend)) {
      std::fprintf(stderr, "glymmer: no display to show on; use --render to render to files\n");
      return 2;
    }
    mode = RunMode::Window;
  }
  if (mode == RunMode::Window && options.preview) mode = RunMode::Preview;
  // On screen a stop signal is the normal way out (xscreensaver ends its
  // hacks so); a render it cuts short reports the signal.
  gStopExitsCleanly = mode != RunMode::Render;
  switch (mode) {
    case RunMode::Render:
      return RunRender(options);
    case RunMode::Configure:
      return RunConfigure(options);
    case RunMode::Window:
    case RunMode::Preview:
    case RunMode::FullScreen:
    case RunMode::Saver:
    case RunMode::Hack: {
      Options onScreen = options;
      onScreen.mode = mode;
      return RunOnScreen(onScreen);
    }
    default:
      std::fprintf(stderr, "glymmer: this mode is not available\n");
      return 2;
  }
}
