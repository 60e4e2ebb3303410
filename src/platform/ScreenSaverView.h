// ScreenSaverView: the host engine's base view class, and the few AppKit
// types its operations take.
//
// The engine (the glymmer program, or a test) creates views, gives each a
// window, starts them and calls the derived view's operations on one thread.
// This base class keeps the state those operations rely on: frame, preview
// flag, animation interval and state, window, and the subviews it owns.
#pragma once

#include <memory>
#include <vector>

struct Screen;
class NSOpenGLView;

struct NSPoint {
  double x = 0, y = 0;
};
struct NSSize {
  double width = 0, height = 0;
};
struct NSRect {
  NSPoint origin;
  NSSize size;
};
inline NSSize NSMakeSize(double w, double h) {
  NSSize s;
  s.width = w;
  s.height = h;
  return s;
}
inline NSRect NSMakeRect(double x, double y, double w, double h) {
  NSRect r;
  r.origin.x = x;
  r.origin.y = y;
  r.size.width = w;
  r.size.height = h;
  return r;
}

// The window that shows a view: which screen it is on, and for an on-screen
// window the native handles its OpenGL view draws into: an X11 window, or a
// Wayland surface (nativeSurface set). A headless window has no native
// handles and its views draw off screen.
struct NSWindow {
  const Screen* screenOfWindow = nullptr;  // null: the main screen
  void* nativeDisplay = nullptr;           // X11 Display* or wl_display*; null when headless
  unsigned long nativeWindow = 0;          // X11 Window, the Wayland surface's id; 0 when headless
  unsigned long nativeVisual = 0;          // X11 VisualID the window was made with
  void* nativeSurface = nullptr;           // Wayland: the wl_egl_window to draw into

  bool IsWayland() const { return nativeSurface != nullptr; }

  // The screen that holds the window: for a window on an X server the
  // monitor that holds its centre; otherwise screenOfWindow, or the main
  // screen when none was given.
  const Screen* screen() const;
};

class ScreenSaverView {
public:
  ScreenSaverView();
  ~ScreenSaverView();  // releases the subviews (the host's dealloc)
  ScreenSaverView(const ScreenSaverView&) = delete;
  ScreenSaverView& operator=(const ScreenSaverView&) = delete;

  // Takes the frame and the preview flag; returns this view, or null when the
  // frame is unusable (a negative or non-finite size).
  ScreenSaverView* initWithFrame(NSRect frame, bool isPreview);

  void startAnimation();  // the engine starts sending ticks
  void stopAnimation();   // no more ticks until the next startAnimation
  bool isAnimating() const { return animating; }

  void setAnimationTimeInterval(double seconds);
  double animationTimeInterval() const { return interval; }

  bool isPreview() const { return preview; }
  NSRect bounds() const;  // origin 0, the frame's size

  // The window that shows the view; the engine sets it with SetWindow.
  NSWindow* window() const { return hostWindow; }
  void SetWindow(NSWindow* window) { hostWindow = window; }

  // Adds a child view, shown over this one and owned by it from now on.
  void addSubview(NSOpenGLView* view);
  const std::vector<std::unique_ptr<NSOpenGLView>>& subviews() const { return children; }

  void setFrameSize(NSSize size);  // the view takes the new size

private:
  NSRect frame;
  bool preview = false;
  bool animating = false;
  double interval = 1.0 / 30.0;
  NSWindow* hostWindow = nullptr;
  std::vector<std::unique_ptr<NSOpenGLView>> children;
};
