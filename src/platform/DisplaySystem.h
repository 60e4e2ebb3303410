// DisplaySystem: what the on-screen engine asks of a display system. X11 and
// Wayland each answer it in their own files (X11System.cpp, WaylandDisplay.*),
// so that every mode, pacing rule and way out is written once, in the engine.
//
// The engine connects, lists the outputs, makes one surface per view, hands
// the surface to the view (its NSWindow), polls events and waits for them.
// Presenting is the view's own (its OpenGL context swaps into the surface).
// All calls come from one thread.
#pragma once

#include "platform/ScreenSaverView.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// One event for one of the engine's surfaces, or for the display itself.
struct WindowEvent {
  enum Kind {
    kKey,            // a key was pressed (`escape` tells whether it was Escape)
    kButton,         // a pointer button was pressed, or the wheel turned
    kMotion,         // the pointer is at (rootX, rootY) on the desktop
    kResize,         // the surface's drawable is now width x height pixels
    kClose,          // the user asks the window to close
    kDestroyed,      // the surface is gone (its window destroyed, its output closed)
    kExpose,         // a part of the window must be drawn again
    kOutputAdded,    // output `output` appeared (the screens list holds it)
    kOutputRemoved,  // output `output` went away (the screens list no longer holds it)
    kLost,           // the connection to the display is gone; nothing more will come
  };
  Kind kind = kExpose;
  unsigned long window = 0;  // the surface it happened to (NSWindow::nativeWindow)
  bool escape = false;
  int rootX = 0, rootY = 0;
  // kMotion: the pointer got there without travelling (it entered a surface,
  // or the outputs changed under it): a new reference point for travel.
  bool newReference = false;
  int width = 0, height = 0;
  uint32_t output = 0;
};

enum class DisplayBackend { kX11, kWayland };

// One output (monitor) as the display system announces it.
struct DisplayOutput {
  uint32_t id = 0;        // names the output for as long as it exists
  int32_t screen = 0;     // its screen's number in the screens list
  std::string name;       // "DP-1", "HEADLESS-2"; may be empty
  int x = 0, y = 0;       // place on the desktop (Wayland: logical units)
  int width = 0, height = 0;  // size in device pixels
  int scale = 1;          // device pixels per logical unit
  bool main = false;
};

enum class SurfaceKind {
  kWindow,      // an ordinary, resizable, titled window
  kFullScreen,  // covers one output, above everything else
  kSaverLayer,  // Wayland: a layer-shell surface on the overlay layer of one output
  kForeign,     // X11: someone else's window (a daemon's), or the root window
};

struct SurfaceRequest {
  SurfaceKind kind = SurfaceKind::kWindow;
  NSRect rect;                      // window: size in logical units, and place
  bool placed = false;              // window: rect.origin is wanted (X11 only)
  const char* title = "Glymmer";
  uint32_t output = 0;              // full screen, saver layer: DisplayOutput::id
  unsigned long foreignWindow = 0;  // foreign: the window id; 0 is the root window
};

// What the engine tells the display system when it connects.
struct DisplaySettings {
  std::string mainOutput;  // the output that counts as main; empty: the system's own choice
  bool verbose = false;    // say which output is main, and why
};

class DisplaySystem {
public:
  virtual ~DisplaySystem() = default;

  virtual const char* Name() const = 0;  // "X11", "Wayland"

  // Connects to the display named by the environment (DISPLAY,
  // WAYLAND_DISPLAY) and loads its outputs into the screens list. False,
  // with a line on standard error, when it cannot.
  virtual bool Connect(const DisplaySettings& settings) = 0;
  // Closes the connection. Surfaces must be closed, and views drawing into
  // them destroyed, first.
  virtual void Disconnect() = 0;

  // The outputs now, in the order the system announced them.
  virtual std::vector<DisplayOutput> Outputs() = 0;
  // The desktop's size in pixels (X11: the root window; Wayland: the main output).
  virtual NSSize DesktopSize() = 0;
  // Whether outputs that come and go while running are reported.
  virtual bool ReportsOutputChanges() const = 0;
  // Whether the system can make surfaces of this kind (with the reason on
  // standard error when it cannot).
  virtual bool Supports(SurfaceKind kind) = 0;

  // Makes this process the one saver on this display. False, with a line on
  // standard error, when another process already is; the claim ends with
  // the process.
  virtual bool ClaimSaver() = 0;

  // Makes and shows a surface, fills `window` with the handles its view
  // draws through and `size` with its drawable size in pixels. False, with a
  // line on standard error, when it cannot.
  virtual bool OpenSurface(const SurfaceRequest& request, NSWindow* window, NSSize* size) = 0;
  // Destroys a surface made by OpenSurface (a foreign window is only let go)
  // and clears `window`. Its view must be destroyed first.
  virtual void CloseSurface(NSWindow* window) = 0;
  // Whether the window is a screen-saver settings dialog's preview pane
  // (xscreensaver's), whose view is drawn as the preview.
  virtual bool InPreviewPane(const NSWindow& window) = 0;
  // "window 0x1a00005" or "surface 2 on output DP-1", for messages.
  virtual std::string Describe(const NSWindow& window) = 0;

  // Sends every key press, button press and pointer motion to the engine's
  // surfaces. False when the keyboard could not be had.
  virtual bool GrabInput(const NSWindow& window) = 0;
  // The pointer's place on the desktop. False when the system cannot tell.
  virtual bool PointerPosition(int* x, int* y) = 0;
  // Shows black in the surface without its view (which does not draw).
  virtual void PaintBlack(const NSWindow& window) = 0;
  // Whether the display says when the surface wants its next frame (Wayland's
  // frame callbacks): then the engine ticks its view only when WantsFrame is
  // true, once for each of the display's refreshes; otherwise it ticks it by
  // the view's own step clock.
  virtual bool PacesFrames(const NSWindow& window) = 0;
  // Whether the surface wants a frame now. Where the display paces frames,
  // true for the first and whenever the compositor has asked for the next
  // (a refresh has come since the last tick), and false until it does; a
  // surface shown nowhere (covered by a lock screen, on a workspace out of
  // sight, on an output that is off) is never asked, so its view pauses and
  // costs nothing. Asked right before each tick, which it prepares for.
  // Otherwise always true.
  virtual bool WantsFrame(const NSWindow& window) = 0;
  // Whether swaps into the surface may wait for its monitor's refresh now:
  // on X11 while the window is mapped and not wholly covered, as the server
  // last said (a swap into a window shown nowhere may wait a second, or for
  // ever on some drivers). Never where the display paces frames.
  virtual bool MayWaitForRefresh(const NSWindow& window) = 0;
  // The surface's view has ended a tick that WantsFrame allowed, having
  // presented a new frame or not (no step was due). Without a new frame, a
  // display that paces frames is asked for the next refresh all the same.
  virtual void TickEnded(const NSWindow& window, bool presented) = 0;

  // The monitors show nothing now, whatever is drawn: on X11 the server's
  // own screen saver is on, or DPMS has put the monitors in standby, suspend
  // or off; on either, mutter has (its PowerSaveMode). Asked about twice a
  // second. Where the display paces frames, a dark output mostly asks for
  // none already.
  virtual bool ScreenIsDark() = 0;
  // Seconds between the refreshes of the monitor that shows the surface:
  // as the compositor says it shows frames where it says so, else from the
  // monitor's mode; 0 when unknown.
  virtual double RefreshInterval(const NSWindow& window) = 0;

  // Sends everything asked for so far.
  virtual void Flush() = 0;
  // Waits up to `seconds` for an event. True when one is there; false on
  // timeout or when a signal interrupted the wait.
  virtual bool WaitForEvents(double seconds) = 0;
  // Takes the next event, if any is there.
  virtual bool NextEvent(WindowEvent* event) = 0;
};

// The display system the environment names: Wayland when WAYLAND_DISPLAY is
// set, X11 when DISPLAY is. False when neither is.
bool DisplayBackendFromEnvironment(DisplayBackend* backend);

// The display that the environment names for that kind, one name however
// it is spelled, as a file-name-safe word, for the locks that keep one saver
// and one watcher to a display. Wayland: WAYLAND_DISPLAY (wayland-0 when
// unset), a path into the runtime folder being its bare name and any other
// path kept whole. X11: DISPLAY without its screen, a local display (":59",
// "unix:59.0", "unix/:59") always ":59"; a host's display keeps its host.
std::string DisplayLockName(DisplayBackend backend);

// A new, unconnected display system of that kind.
std::unique_ptr<DisplaySystem> MakeDisplaySystem(DisplayBackend backend);

// Whether this build can make Wayland saver layers (the layer-shell protocol).
bool HaveSaverLayer();
