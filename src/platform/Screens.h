// Screens: the monitors a view can be on, their numbers and the main one.
//
// A headless run has one virtual screen unless told otherwise; on an X
// server the list holds its XRandR monitors. The engine sets the list up once
// before it creates views; the module only reads it. A view's screen is the
// one that holds its window's centre (NSWindow::screen).
#pragma once

#include <cstdint>
#include <vector>

// One screen: its number (the host's "NSScreenNumber" entry) and where it
// lies on the desktop, in pixels.
struct Screen {
  int32_t number = 0;
  double x = 0, y = 0, width = 0, height = 0;
  char name[64] = "";  // the monitor's or output's name, when it has one

  // The "NSScreenNumber" entry of the screen's device description: an
  // integer that names this screen and differs between screens.
  int32_t screenNumber() const { return number; }
};

// The main screen (the primary monitor); never null. Valid until the list is
// set up again.
const Screen* mainScreen();

// Number of screens, at least 1. Every pointer below is valid until the list
// is set up again (SetScreens keeps the screens that stay).
int ScreenCount();

// Screen `index` (0 based), or null when there is no such screen. Valid until
// the list is set up again.
const Screen* ScreenAt(int index);

// Replaces the list with `count` virtual screens of width x height pixels,
// side by side from left to right and numbered 1 to count, screen
// `mainIndex` (0 based) being the main one. For headless runs and for tests
// that need several screens. False, with the list unchanged, when count is
// not 1 to 64, mainIndex is out of range or a size is not positive.
bool SetVirtualScreens(int count, int mainIndex, double width, double height);

// Replaces the list with the XRandR monitors of the X11 connection
// `xDisplay` (a Display*), in the server's order: one screen per monitor,
// numbered 1 up, the primary monitor being the main screen (the first one
// when none is primary). A server without monitors gives one screen covering
// its root window. False, with the list unchanged, without a connection.
bool LoadMonitorScreens(void* xDisplay);

// Replaces the list with `screens` (1 to 64 of them, numbers distinct),
// screen `mainIndex` being the main one. A screen whose number was already
// in the list keeps its address, so views on the outputs that stay keep
// valid screens while others come and go. False, with the list unchanged,
// for an empty or oversized list or a bad index.
bool SetScreens(const std::vector<Screen>& screens, int mainIndex);

// The screen that holds the desktop point (x, y) (left and top edges
// inclusive), or null when none does.
const Screen* ScreenAtPoint(double x, double y);

// Back to the start-up list: one virtual 1920 x 1080 screen, number 1, main.
void ResetScreens();
