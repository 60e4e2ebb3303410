// glymmer: Glymmer's own engine. It creates the screen-saver views, drives
// them on one thread and ends them in order.

#include "Engine.h"
#include "Options.h"

#include "host/SettingOverrides.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

volatile std::sig_atomic_t gStopSignal = 0;

static void OnStopSignal(int signal) { gStopSignal = signal; }

void InstallStopHandlers() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

int main(int argc, char** argv) {
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
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) {
      std::fprintf(stderr, "glymmer: no display to show on; use --render to render to files\n");
      return 2;
    }
    mode = RunMode::Window;
  }
  if (mode == RunMode::Window && options.preview) mode = RunMode::Preview;
  switch (mode) {
    case RunMode::Render:
      return RunRender(options);
    case RunMode::Configure:
      return RunConfigure(options);
    case RunMode::Window:
    case RunMode::Preview:
    case RunMode::FullScreen:
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
