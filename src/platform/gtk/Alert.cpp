// Alert: critical alerts as lines on standard error, and as modal dialogs
// over the settings dialog while it runs.

#include "platform/gtk/Alert.h"

#include "platform/gtk/SheetLayout.h"

#include <cstdio>
#include <deque>
#include <mutex>

namespace {

constexpr size_t kAlertsKept = 64;

struct AlertState {
  std::mutex lock;
  AlertPanel panel;
  std::deque<AlertRecord> shown;
  bool echo = true;
};

AlertState& State() {
  static AlertState state;
  return state;
}

// One line however the text is made: line breaks inside become spaces.
std::string OneLine(const std::string& text) {
  std::string line = text;
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return line;
}

}  // namespace

void AlertPanel::close() { open = false; }

AlertPanel* NSGetCriticalAlertPanel(const char* title, const char* message,
                                    const char* defaultButton) {
  AlertState& s = State();
  std::lock_guard<std::mutex> hold(s.lock);
  s.panel.title = title ? title : "";
  s.panel.message = message ? message : "";
  s.panel.defaultButton = defaultButton ? defaultButton : "";
  s.panel.open = false;
  return &s.panel;
}

int runModalForWindow(AlertPanel* panel) {
  if (!panel) return 0;
  AlertState& s = State();
  AlertRecord shown;
  {
    std::lock_guard<std::mutex> hold(s.lock);
    panel->open = true;
    if (s.echo) {
      std::string line = OneLine(panel->title) + ": " + OneLine(panel->message) + "\n";
      std::fputs(line.c_str(), stderr);
      std::fflush(stderr);
    }
    shown = AlertRecord{panel->title, panel->message};
    s.shown.push_back(shown);
    while (s.shown.size() > kAlertsKept) s.shown.pop_front();
  }
  // Over the settings dialog the person is there to read it: a modal dialog
  // that waits for OK. The toolkit's loop runs meanwhile, so the lock is let
  // go first.
  RunAlertOverSheet(shown.title, shown.message, panel->defaultButton);
  return 1;
}

std::vector<AlertRecord> AlertsShown() {
  AlertState& s = State();
  std::lock_guard<std::mutex> hold(s.lock);
  return std::vector<AlertRecord>(s.shown.begin(), s.shown.end());
}

void ClearAlertsShown() {
  AlertState& s = State();
  std::lock_guard<std::mutex> hold(s.lock);
  s.shown.clear();
}

void SetAlertEcho(bool onStandardError) {
  AlertState& s = State();
  std::lock_guard<std::mutex> hold(s.lock);
  s.echo = onStandardError;
}
