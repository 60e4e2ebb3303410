// Screens: the monitors a view can be on, their numbers and the main one.
//
// A headless run has one virtual screen unless told otherwise. The engine
// sets the list up once before it creates views (SetVirtualScreens here; the
// X11 monitors join the same list later) and tells each view's window which
// screen it shows; the module only reads the list.
#pragma once

#include <cstdint>

// One screen: its number (the host's "NSScreenNumber" entry) and where it
// lies on the desktop, in pixels.
struct Screen {
  int32_t number = 0;
  double x = 0, y = 0, width = 0, height = 0;

  // The "NSScreenNumber" entry of the screen's device description: an
  // integer that names this screen and differs between screens.
  int32_t screenNumber() const { return number; }
};

// The main screen (the primary monitor); never null. Valid until the list is
// set up again.
const Screen* mainScreen();

// Number of screens, at least 1.
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

// Back to the start-up list: one virtual 1920 x 1080 screen, number 1, main.
void ResetScreens();
