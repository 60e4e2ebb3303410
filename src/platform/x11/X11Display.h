// X11Display: the engine's connection to an X server: its windows, their
// input and events, and pictures of what a window shows.
//
// The engine shows each view in a window of its own (a managed, resizable
// window, or a borderless one covering a monitor) or in a window that a
// screen-saver daemon hands over. All calls come from one thread. X protocol
// errors never end the process: a window can vanish under a view (the daemon
// destroys its window before it stops the program), and the calls that can
// meet a vanished window report it with a false result instead.
#pragma once

#include "platform/DisplaySystem.h"
#include "platform/ScreenSaverView.h"

#include <string>
#include <vector>

class X11Display {
public:
  X11Display() = default;
  ~X11Display();  // Close
  X11Display(const X11Display&) = delete;
  X11Display& operator=(const X11Display&) = delete;

  // Connects to the X server `name` (null: the DISPLAY variable). False, with
  // a line on standard error, when it cannot.
  bool Open(const char* name);
  // Closes the connection; windows made here go with it. Views drawing into
  // them must be destroyed first.
  void Close();
  bool IsOpen() const { return display != nullptr; }

  void* Native() const { return display; }    // the Display*, for NSWindow
  unsigned long Root() const;                 // the default screen's root window
  NSSize RootSize() const;                    // its size in pixels

  // Creates and maps a window at `rect` (desktop pixels, y down) drawn with
  // the visual OpenGL draws best into, with a black background. A normal
  // window is managed (title `title`, resizable, closing asks instead of
  // killing); a full-screen one is borderless, above everything, bypasses the
  // window manager and hides the pointer. Fills `window`'s native handles.
  // False, with a line on standard error, when no window can be made.
  bool OpenWindow(NSRect rect, bool fullScreen, const char* title, NSWindow* window);

  // Draws into someone else's window `id` (a daemon's, or the root window):
  // fills `window`'s native handles with the window's own visual, *size with
  // its size, and asks for its resize and destroy events. False, with a line
  // on standard error, when there is no such window.
  bool AdoptWindow(unsigned long id, NSWindow* window, NSSize* size);

  // Whether `window` is, or lies inside, a window of xscreensaver's settings
  // dialog (WM_CLASS "xscreensaver-settings", or "xscreensaver-demo" before
  // version 6): the pane where the dialog runs a hack as a preview. The
  // daemon's own windows (class "XScreenSaver") and the root window are not.
  bool InSettingsPreview(unsigned long window);

  // Destroys a window made by OpenWindow and clears the handles.
  void CloseWindow(NSWindow* window);

  // The window's current size. False when the window is gone.
  bool WindowSize(const NSWindow& window, NSSize* size);

  // Takes the keyboard and the pointer for `window` (which must be mapped),
  // so that every key press, button press and pointer motion is reported
  // for the engine's windows. Tries for up to a second while another client
  // holds them. False when the keyboard could not be had.
  bool GrabInput(const NSWindow& window);

  // The pointer's position in desktop pixels. False when it is not on this
  // server's default screen.
  bool PointerPosition(int* x, int* y);

  // Fills the window with black through the X server (no OpenGL needed).
  void PaintBlack(const NSWindow& window);

  // Sends everything asked for so far to the server.
  void Flush();

  // Waits up to `seconds` for an event. True when one is there; false on
  // timeout or when a signal interrupted the wait.
  // The server's screen saver is on, or DPMS has the monitors in standby,
  // suspend or off.
  bool ScreenIsDark();
  bool WaitForEvents(double seconds);

  // Takes the next event for a window of the engine's, if any is queued.
  bool NextEvent(WindowEvent* event);

  // Whether a window made or adopted here is mapped and not wholly covered,
  // as the server said last (in events NextEvent has read). False for
  // windows it does not know.
  bool Shown(unsigned long window) const;

  // Asks `window` to close as a window manager's close button does (the
  // WM_DELETE_WINDOW message). For tests.
  void RequestClose(unsigned long window);

  // What `window` (0: the root window) shows now, as RGB bytes, rows top
  // first. False when the window is gone or not mapped. For tests and
  // tools that look at the screen.
  bool Capture(unsigned long window, std::vector<unsigned char>& rgb, int* width, int* height);

private:
  // What the server said of a window's mapping and covering.
  struct Seen {
    unsigned long window = 0;
    bool mapped = false;
    bool covered = false;
  };
  Seen* Find(unsigned long window);

  std::vector<Seen> seen;
  void* display = nullptr;
  unsigned long deleteAtom = 0;
  unsigned long protocolsAtom = 0;
  unsigned long blankCursor = 0;
};

// The centre of an X window in desktop pixels. False when the window is gone.
bool NativeWindowCentre(void* xDisplay, unsigned long window, double* x, double* y);


// Seconds between the refreshes of the monitor (RandR CRTC) under the
// window's centre, from its mode; 0 when the server cannot tell.
double WindowRefreshInterval(void* xDisplay, unsigned long window);

// One monitor of an X server: its rectangle in desktop pixels.
struct MonitorRect {
  int x = 0, y = 0, width = 0, height = 0;
  bool primary = false;
  std::string name;  // the monitor's name ("DP-1"); empty for the root window
};

// The active XRandR monitors of the connection `xDisplay` in the server's
// order, leaving out empty ones; the root window as the one monitor when the
// server has no RandR 1.5 or reports none. False without a connection.
bool QueryMonitors(void* xDisplay, std::vector<MonitorRect>* monitors);
