// Configure: glymmer --configure shows the configuration sheet in a dialog of
// its own, as the host's settings window would, and edits the preference
// store that every view reads. Below the module's sheet, as the host's own
// settings window would have it, one row of the program's: whether and after
// how many idle minutes Glymmer starts itself as the screen saver. Beside the
// options, the settings window's live preview of what they do.

#include "Engine.h"
#include "StartUp.h"

#include "host/AppSettings.h"
#include "host/GlymmerView.h"
#include "host/SettingsTable.h"
#include "host/SheetPreview.h"
#include "platform/Autostart.h"
#include "platform/DesktopTimers.h"
#include "platform/Verbose.h"
#include "platform/Workspace.h"
#include "platform/ScreenSaverDefaults.h"
#include "platform/gtk/Alert.h"
#include "platform/gtk/SheetLayout.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

bool ModuleSaveFailed() {
  ScreenSaverDefaults* store = ScreenSaverDefaults::defaultsForModuleWithName(kSettingsModuleName);
  return (store && store->LastSynchronizeFailed()) || AppSettingsSaveFailed();
}

// Save's part for the start-up row: the delay into the program's store, the
// switch into the autostart entry, and both into effect at once where they
// changed: a switch turned on starts the watcher now, one turned off ends
// it, a new delay restarts it. A watcher the person runs by other means is
// left alone while the row stays as it was. False, having told the person,
// when something could not be written or started.
bool SaveStartUp(NSControl* delay, NSSwitch* start, bool wasOn, int oldDelay) {
  std::string problem, where, why;
  bool on = start->state() == NSOnState;
  bool changed = on != wasOn;
  if (!StoreIdleDelayMinutes(delay->intValue(), &where))
    problem = "The start-up settings could not be saved to " + where + ".";
  changed = changed || (on && StoredIdleDelayMinutes() != oldDelay);
  if (!(on ? InstallAutostartEntry(&why) : RemoveAutostartEntry(&why)))
    problem += (problem.empty() ? "" : " ") + std::string("The autostart entry ") +
               AutostartEntryPath() + " could not be " + (on ? "written" : "removed") + " (" +
               why + ").";
  if (problem.empty() && changed && !ApplyStartUpNow(on))
    problem = on ? "Glymmer could not start its idle watcher now; it starts at the next login."
                 : "Glymmer's running idle watcher did not end within 8 seconds; it may go on "
                   "until the session ends.";
  if (problem.empty()) return true;
  // One alert for one Save: where the module's settings failed too, its
  // alert has told already, and this goes to standard error only.
  if (ModuleSaveFailed()) {
    std::fprintf(stderr, "glymmer: %s\n", problem.c_str());
  } else {
    AlertPanel* alert = NSGetCriticalAlertPanel("ERROR", problem.c_str(), "OK");
    runModalForWindow(alert);
    alert->close();
  }
  return false;
}

// Beside the switch, what the desktop itself does after idle time, in words;
// with the switch on, a warning where that comes at or before Glymmer's
// delay, which no saver is then seen after.
void ShowDesktopTimers(NSPanel* sheet, const NSControl* delay, const NSSwitch* start,
                       const std::vector<DesktopTimer>& timers) {
  std::string text;
  for (const DesktopTimer& timer : timers)
    text += (text.empty() ? "" : "; ") + DescribeDesktopTimer(timer);
  if (!text.empty()) text += ".";
  if (!timers.empty() && start->state() == NSOnState &&
      static_cast<unsigned>(delay->intValue()) * 60 >= timers.front().seconds)
    text += " Glymmer's " + std::to_string(delay->intValue()) +
            " minutes come no sooner, so it would not be seen: set fewer minutes, or change "
            "the desktop's settings.";
  sheet->SetLabel("desktopTimers", text);
  VerboseLine("the start-up row says: %s", text.empty() ? "(nothing)" : text.c_str());
}

// Turning the switch on proposes a delay that leaves the saver a minute on
// screen before the desktop's first timer, where the one set would not; the
// person may set it back, and is warned.
void ProposeDelay(NSControl* delay, const NSSwitch* start, const std::vector<DesktopTimer>& timers) {
  if (timers.empty() || start->state() != NSOnState) return;
  unsigned first = timers.front().seconds;
  int proposed = static_cast<int>(first / 60) - 1;
  if (static_cast<unsigned>(delay->intValue()) * 60 >= first && proposed >= kIdleDelayLowest)
    delay->setIntValue(proposed);
}

}  // namespace

int RunConfigure(const Options&) {
  if (!StartToolkit()) {
    std::fprintf(stderr, "glymmer: --configure needs a display, and none could be opened\n");
    return 1;
  }
  bool startUpFailed = false;
  // The settings window's view: it loads (and, for an old store, resets) the
  // settings as every view does; it never draws.
  std::unique_ptr<GlymmerView> view(new GlymmerView);
  if (!view->initWithFrame(NSMakeRect(0, 0, 320, 240), true)) return 1;
  NSPanel* sheet = view->configureSheet();
  if (!sheet) {
    std::fprintf(stderr, "glymmer: the settings layout GlymmerSS.ui could not be loaded\n");
    return 1;
  }
  NSControl* delay = sheet->IntegerControlNamed("idleDelay");
  NSSwitch* start = sheet->SwitchNamed("idleStart");
  if (delay && start) {
    int storedDelay = StoredIdleDelayMinutes();
    bool wasOn = AutostartEntryInstalled();
    delay->setIntValue(storedDelay);
    start->setState(wasOn ? NSOnState : NSOffState);
    // Defaults puts the delay back too; whether Glymmer starts by itself is
    // not a look to reset, and stays as chosen.
    sheet->AfterClick("defaultsButton", [delay] { delay->setIntValue(kIdleDelayDefault); });
    sheet->AfterClick("saveButton", [&startUpFailed, delay, start, wasOn, storedDelay] {
      startUpFailed = !SaveStartUp(delay, start, wasOn, storedDelay);
    });
    std::vector<DesktopTimer> timers = DesktopTimers();
    ShowDesktopTimers(sheet, delay, start, timers);
    sheet->AfterChange("idleDelay", [=] { ShowDesktopTimers(sheet, delay, start, timers); });
    sheet->AfterChange("idleStart", [=] {
      ProposeDelay(delay, start, timers);
      ShowDesktopTimers(sheet, delay, start, timers);
    });
    std::vector<std::string> command;
    std::string label;
    if (DesktopTimerSettings(&command, &label)) {
      sheet->SetLabel("desktopSettingsButton", label);
      sheet->AfterClick("desktopSettingsButton", [command] { StartDesktopProgram(command); });
    }
  }
  // Its view and context come after the window, at the first frame shown.
  SheetPreview preview;
  preview.Setup(view.get());
  // Save, Cancel, closing the window, SIGINT and SIGTERM all end it.
  runSheet(sheet, &gStopSignal);
  preview.Cleanup();
  // A Save that could not write is not a success, though the dialog said so
  // and ended.
  if (ModuleSaveFailed()) {
    std::fprintf(stderr, "glymmer: the settings were not saved\n");
    return 1;
  }
  if (startUpFailed) {
    std::fprintf(stderr, "glymmer: the start-up settings were not saved\n");
    return 1;
  }
  return 0;
}
