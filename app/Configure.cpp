// Configure: glymmer --configure shows the configuration sheet in a dialog of
// its own, as the host's settings window would, and edits the preference
// store that every view reads.

#include "Engine.h"

#include "host/AppSettings.h"
#include "host/GlymmerView.h"
#include "host/SettingsTable.h"
#include "platform/ScreenSaverDefaults.h"
#include "platform/gtk/SheetLayout.h"

#include <cstdio>
#include <memory>

int RunConfigure(const Options&) {
  if (!StartToolkit()) {
    std::fprintf(stderr, "glymmer: --configure needs a display, and none could be opened\n");
    return 1;
  }
  // The settings window's view: it loads (and, for an old store, resets) the
  // settings as every view does; it never draws.
  std::unique_ptr<GlymmerView> view(new GlymmerView);
  if (!view->initWithFrame(NSMakeRect(0, 0, 320, 240), true)) return 1;
  NSPanel* sheet = view->configureSheet();
  if (!sheet) {
    std::fprintf(stderr, "glymmer: the settings layout GlymmerSS.ui could not be loaded\n");
    return 1;
  }
  // Save, Cancel, closing the window, SIGINT and SIGTERM all end it.
  runSheet(sheet, &gStopSignal);
  // A Save that could not write is not a success, though the dialog said so
  // and ended.
  ScreenSaverDefaults* store = ScreenSaverDefaults::defaultsForModuleWithName(kSettingsModuleName);
  if ((store && store->LastSynchronizeFailed()) || AppSettingsSaveFailed()) {
    std::fprintf(stderr, "glymmer: the settings were not saved\n");
    return 1;
  }
  return 0;
}
