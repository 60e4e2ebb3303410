// OpenGLView: the OpenGL child view (NSOpenGLView), its pixel format and its
// context.
//
// Each view has its own desktop OpenGL compatibility-profile context. Off
// screen it draws into a pbuffer of the view's size; in a window with native
// X11 handles it draws into that window through an EGL window surface with
// the window's own visual, double-buffered: flushBuffer shows whole frames.
// The context and its surface are made on first use, once the view sits in a
// window; a pbuffer follows the view's size, a window surface its window's.
// Nothing is ever shared between views.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/ScreenSaverView.h"

// Pixel format attributes, with the host's values.
enum : uint32_t {
  NSOpenGLPFAColorSize = 8,
  NSOpenGLPFAMinimumPolicy = 51,
  NSOpenGLPFAMaximumPolicy = 52,
  NSOpenGLPFAAccelerated = 73,
};

class NSOpenGLPixelFormat {
public:
  // Reads a zero-terminated attribute list (attributes with a value take the
  // next entry). Returns this, or null when the list asks for something no
  // EGL configuration here can give.
  NSOpenGLPixelFormat* initWithAttributes(const uint32_t* attributes);
  int colorSize() const { return colourBits; }
  bool accelerated() const { return wantAccelerated; }

private:
  int colourBits = 32;
  bool wantAccelerated = false;
};

class NSOpenGLView;

class NSOpenGLContext {
public:
  // Makes this context current on the calling thread, creating it (and its
  // surface) first if needed. False when no context can be had; OpenGL calls
  // then go nowhere.
  bool makeCurrentContext();

  // Ends the frame: glFlush, and on a window shows the finished frame (a
  // buffer swap), so a half-drawn frame is never visible; off screen the
  // frame is finished (glFinish) before this returns. The context must be
  // current.
  void flushBuffer();

private:
  friend class NSOpenGLView;
  explicit NSOpenGLContext(NSOpenGLView* owner) : view(owner) {}
  NSOpenGLView* view;
};

class NSOpenGLView {
public:
  NSOpenGLView();
  ~NSOpenGLView();  // makes its context current, then releases it
  NSOpenGLView(const NSOpenGLView&) = delete;
  NSOpenGLView& operator=(const NSOpenGLView&) = delete;

  // Takes the frame and the pixel format (copied). Returns this.
  NSOpenGLView* initWithFrame(NSRect frame, NSOpenGLPixelFormat* format);

  NSOpenGLContext* openGLContext() { return &context; }

  // The drawable follows: a pbuffer is remade at the new size (its GL objects
  // stay), a window surface is resized by the window system.
  void setFrameSize(NSSize size);
  NSSize frameSize() const { return size; }

  // The superview, set by ScreenSaverView::addSubview.
  void SetSuperview(ScreenSaverView* view) { superview = view; }

  // Reads the current drawable as RGBA rows, bottom first: the pbuffer, or
  // a window's back buffer (the frame being drawn, before it is shown).
  // Makes the context current. False when there is no drawable. For the
  // headless renderer and tests.
  bool ReadPixels(std::vector<unsigned char>& rgba, int* width, int* height);

  // The drawable's size in pixels (a window surface's as the window system
  // last reported it). False while there is no drawable.
  bool DrawableSize(int* width, int* height) const;
  // The X visual a window surface draws with; 0 off screen or before the
  // context exists.
  unsigned long DrawableVisual() const;

  // Whether the view draws off screen (no native window).
  bool IsHeadless() const;

  // Called with the context current just before each frame is shown, after
  // everything else has been drawn; `context` is the pointer given here.
  typedef void (*PresentHook)(NSOpenGLView* view, void* context);
  // Installs (or, with null, removes) the hook. For the engine's frame-rate
  // display.
  void SetPresentHook(PresentHook hook, void* context);

  // Presents the frame (called by NSOpenGLContext::flushBuffer).
  void Present();
  // Makes the context current, creating the context and its drawable on the
  // first call: a window surface when the superview's window has native
  // handles, a pbuffer otherwise. False when that fails (the failure is
  // reported once, on standard error, and not retried).
  bool MakeCurrent();

  // On an X11 window, lets swaps wait for the monitor's refresh, where the
  // driver offers that, or not; makes the context current. True when they
  // now wait (see WindowGL::SetWaitForRefresh). Off screen and on Wayland
  // swaps never wait.
  bool SetWaitForRefresh(bool wait);
  // Whether swaps wait for the refresh now (a swap that waited too long
  // ends the waiting by itself).
  bool WaitsForRefresh() const;

  // Number of frames presented since creation (a window's swaps that
  // failed are not counted); lets the engine and tests see that a tick drew
  // and measure the frame rate.
  uint64_t PresentedFrames() const { return presented; }

  struct Backend;  // the surface kind in use; opaque outside the platform

private:
  bool EnsureBackend();

  NSOpenGLContext context{this};
  NSOpenGLPixelFormat format;
  NSSize size;
  ScreenSaverView* superview = nullptr;
  std::unique_ptr<Backend> backend;
  uint64_t presented = 0;
  PresentHook presentHook = nullptr;
  void* presentHookContext = nullptr;
};
