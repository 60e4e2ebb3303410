// WindowGL: an OpenGL context that draws into an X11 window or a Wayland
// surface.
//
// A desktop OpenGL compatibility-profile context with an EGL window surface
// on the window, through an EGL display on the window's own X connection. The
// configuration is the one whose native visual is the window's visual, so
// the frames need no conversion and any window (one of ours, or one a
// screen-saver daemon hands over) can be drawn into. Drawing goes to the back
// buffer; SwapBuffers shows a finished frame, so no half-drawn frame is ever
// visible. Each object owns its own context: objects never share GL names.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

class WindowGL {
public:
  WindowGL();
  ~WindowGL();
  WindowGL(const WindowGL&) = delete;
  WindowGL& operator=(const WindowGL&) = delete;

  // Creates the context and the window surface on `window` of the X11
  // connection `xDisplay` (a Display*), whose visual is `visualId`, and makes
  // them current. The swap interval is 0 until SetWaitForRefresh: frames are
  // paced by the caller's ticks, not by waiting for the monitor. False (with
  // a line on standard error) when no EGL display, matching configuration,
  // context or surface can be had; the object is then empty. The connection
  // and the window must outlive the object (Destroy releases everything).
  bool Create(void* xDisplay, unsigned long window, unsigned long visualId);

  // The same on a Wayland surface: `eglWindow` is the wl_egl_window of the
  // surface, on the connection `wlDisplay` (a wl_display*). The configuration
  // has no alpha where one is offered, so the surface is opaque. Swaps never
  // wait for the compositor. Both must outlive the object.
  bool CreateOnWayland(void* wlDisplay, void* eglWindow);

  // Makes this context and its window surface current on the calling thread.
  bool MakeCurrent();

  // Shows the frame drawn so far. The context must be current. False when
  // the surface is gone (the window was destroyed). A swap that waited for
  // the refresh longer than 0.1 s (the monitor is off, the server shows the
  // window nowhere) ends the waiting until SetWaitForRefresh(false) and
  // (true) ask for it anew.
  bool SwapBuffers();

  // X11: lets swaps wait for the monitor's refresh (swap interval 1), or not
  // (0), on the surface of the current context, which must be this object's.
  // True when they now wait: only where the driver offers both intervals
  // (GPU drivers do; Mesa's software renderer on Xvfb does not), never on
  // Wayland, and not after a swap waited too long until asked not to wait.
  bool SetWaitForRefresh(bool wait);
  bool WaitsForRefresh() const;

  // Releases the current binding if it is ours, then the surface, the
  // context and this object's hold on the EGL display. Safe to call more
  // than once.
  void Destroy();

  bool IsValid() const;
  // The surface's size in pixels as the window system last reported it
  // (it follows the window's size); 0 when empty.
  int Width() const;
  int Height() const;
  // The native visual of the chosen configuration (the window's visual).
  unsigned long Visual() const;

  // Reads the back buffer as RGBA bytes, rows bottom first. The context must
  // be current. False when there is no surface or the read itself fails; errors
  // that earlier GL calls left pending are cleared, not reported.
  bool ReadPixels(std::vector<unsigned char>& rgba) const;

  // The visual that windows made to be drawn into should have on the X11
  // connection `xDisplay`: `preferred` (usually the screen's default visual)
  // when an OpenGL configuration offers it, otherwise the first one that
  // does; 0 when OpenGL cannot draw into any window there.
  static unsigned long PreferredVisual(void* xDisplay, unsigned long preferred);

private:
  // Makes the context and the window surface on `native` with the display
  // and configuration chosen, current, with swap interval 0; `what` names
  // the window in messages. On failure everything is released.
  bool CreateSurface(uintptr_t native, const char* what);

  struct Impl;
  std::unique_ptr<Impl> impl;
};
