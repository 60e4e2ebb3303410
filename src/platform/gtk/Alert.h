// Alert: the critical alert panel. On this platform the panel is one line,
// title then message, on standard error, where a screen-saver daemon shows a
// module's messages; while the settings dialog runs it is also a modal
// message dialog over it, which waits for the person to press OK.
#pragma once

#include <string>
#include <vector>

// The panel that NSGetCriticalAlertPanel hands out. There is one per process,
// refilled by each call, because alerts are shown one at a time.
class AlertPanel {
public:
  std::string title;
  std::string message;
  std::string defaultButton;
  bool open = false;

  // Puts the panel away; it stays valid for the next NSGetCriticalAlertPanel.
  void close();
};

// Prepares the process's alert panel with a title, a message and the label
// of its only button. Never null; the panel is not shown until
// runModalForWindow.
AlertPanel* NSGetCriticalAlertPanel(const char* title, const char* message,
                                    const char* defaultButton);

// Shows the panel: writes "title: message" as one line to standard error
// (unless echo is off) and records it; while the settings dialog runs
// (runSheet), also shows it as a modal dialog over it and returns once the
// person has dismissed it. The result is the default button's code, 1. A
// null panel shows nothing, 0.
int runModalForWindow(AlertPanel* panel);

// What the alerts shown looked like, for tests and tools.
struct AlertRecord {
  std::string title;
  std::string message;
};

// The alerts shown since the last ClearAlertsShown, oldest first. Only the
// latest 64 are kept, so a long-running process never grows the list.
std::vector<AlertRecord> AlertsShown();
void ClearAlertsShown();

// Turns the line on standard error on or off (on at start). Alerts are
// recorded either way; fuzzers and tools that report on their own turn it off.
void SetAlertEcho(bool onStandardError);
