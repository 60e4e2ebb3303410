// OpenGLView: the OpenGL child view over EGL.

#include "platform/OpenGLView.h"

#include "platform/gl/EGLDisplayShared.h"
#include "platform/gl/HeadlessGL.h"
#include "platform/gl/WindowGL.h"

#include <GL/gl.h>

#include <cmath>

namespace {

int PixelSize(double v) {
  if (!(v >= 1)) return 1;
  if (v > 16384) return 16384;
  return static_cast<int>(v);
}

}  // namespace

NSOpenGLPixelFormat* NSOpenGLPixelFormat::initWithAttributes(const uint32_t* attributes) {
  for (const uint32_t* a = attributes; a && *a; ++a) {
    switch (*a) {
      case NSOpenGLPFAColorSize:
        if (!a[1]) return this;
        colourBits = static_cast<int>(*++a);
        break;
      case NSOpenGLPFAAccelerated:
        wantAccelerated = true;
        break;
      default:
        break;  // policies and the rest need no action with EGL
    }
  }
  // Every configuration chosen here has 8 bits per channel.
  return colourBits <= 32 ? this : nullptr;
}

bool NSOpenGLContext::makeCurrentContext() { return view->MakeCurrent(); }

void NSOpenGLContext::flushBuffer() {
  // Off screen nothing else ever waits for the renderer, so each frame is
  // finished here. Otherwise a threaded software renderer (llvmpipe) starts a
  // new scene whenever the last ones are still queued, up to dozens, and keeps
  // the memory of each (18 MB more in use after an hour at 30 frames a second).
  if (view->IsHeadless())
    glFinish();
  else
    glFlush();
  view->Present();
}

// One of the two drawables, chosen when the context is first needed.
struct NSOpenGLView::Backend {
  bool onWindow = false;
  HeadlessGL pbuffer;
  WindowGL window;
  bool IsValid() const { return onWindow ? window.IsValid() : pbuffer.IsValid(); }
};

NSOpenGLView::NSOpenGLView() = default;

NSOpenGLView::~NSOpenGLView() {
  if (backend) {
    backend->window.Destroy();
    backend->pbuffer.Destroy();
  }
}

NSOpenGLView* NSOpenGLView::initWithFrame(NSRect frame, NSOpenGLPixelFormat* pixelFormat) {
  if (pixelFormat) format = *pixelFormat;
  size = frame.size;
  return this;
}

bool NSOpenGLView::IsHeadless() const {
  NSWindow* window = superview ? superview->window() : nullptr;
  return !window || (!window->nativeWindow && !window->nativeSurface);
}

bool NSOpenGLView::EnsureBackend() {
  // A failed set-up is not retried on every call: its message is written once.
  if (backend) return backend->IsValid();
  backend.reset(new Backend);
  if (!IsHeadless()) {
    NSWindow* window = superview->window();
    backend->onWindow = true;
    if (window->IsWayland())
      return backend->window.CreateOnWayland(window->nativeDisplay, window->nativeSurface);
    return backend->window.Create(window->nativeDisplay, window->nativeWindow,
                                  window->nativeVisual);
  }
  return backend->pbuffer.Create(PixelSize(size.width), PixelSize(size.height));
}

bool NSOpenGLView::MakeCurrent() {
  bool current = EnsureBackend() &&
                 (backend->onWindow ? backend->window.MakeCurrent() : backend->pbuffer.MakeCurrent());
  if (!current) ReleaseCurrentContext();
  return current;
}

void NSOpenGLView::setFrameSize(NSSize newSize) {
  size = newSize;
  // A window surface takes its window's size by itself.
  if (backend && !backend->onWindow && backend->pbuffer.IsValid())
    backend->pbuffer.Resize(PixelSize(size.width), PixelSize(size.height));
}

void NSOpenGLView::SetPresentHook(PresentHook hook, void* hookContext) {
  presentHook = hook;
  presentHookContext = hookContext;
}

void NSOpenGLView::Present() {
  if (presentHook) presentHook(this, presentHookContext);
  if (backend && backend->onWindow && !backend->window.SwapBuffers()) return;
  ++presented;
}

bool NSOpenGLView::SetWaitForRefresh(bool wait) {
  if (!MakeCurrent() || !backend->onWindow) return false;
  return backend->window.SetWaitForRefresh(wait);
}

bool NSOpenGLView::WaitsForRefresh() const {
  return backend && backend->onWindow && backend->window.WaitsForRefresh();
}

bool NSOpenGLView::ReadPixels(std::vector<unsigned char>& rgba, int* width, int* height) {
  if (!MakeCurrent()) return false;
  if (backend->onWindow) {
    if (width) *width = backend->window.Width();
    if (height) *height = backend->window.Height();
    return backend->window.ReadPixels(rgba);
  }
  if (width) *width = backend->pbuffer.Width();
  if (height) *height = backend->pbuffer.Height();
  return backend->pbuffer.ReadPixels(rgba);
}

bool NSOpenGLView::DrawableSize(int* width, int* height) const {
  if (!backend || !backend->IsValid()) return false;
  *width = backend->onWindow ? backend->window.Width() : backend->pbuffer.Width();
  *height = backend->onWindow ? backend->window.Height() : backend->pbuffer.Height();
  return true;
}

unsigned long NSOpenGLView::DrawableVisual() const {
  return backend && backend->onWindow ? backend->window.Visual() : 0;
}
