// OpenGLView: the OpenGL child view over EGL.

#include "platform/OpenGLView.h"

#include "platform/HeadlessGL.h"

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
  glFlush();
  view->Present();
}

struct NSOpenGLView::Backend {
  HeadlessGL pbuffer;
};

NSOpenGLView::NSOpenGLView() = default;

NSOpenGLView::~NSOpenGLView() {
  if (backend) {
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
  return !window || !window->nativeWindow;
}

bool NSOpenGLView::EnsureBackend() {
  if (backend) return backend->pbuffer.IsValid();
  backend.reset(new Backend);
  return backend->pbuffer.Create(PixelSize(size.width), PixelSize(size.height));
}

bool NSOpenGLView::MakeCurrent() {
  if (!EnsureBackend()) return false;
  return backend->pbuffer.MakeCurrent();
}

void NSOpenGLView::setFrameSize(NSSize newSize) {
  size = newSize;
  if (backend && backend->pbuffer.IsValid())
    backend->pbuffer.Resize(PixelSize(size.width), PixelSize(size.height));
}

void NSOpenGLView::Present() { ++presented; }

bool NSOpenGLView::ReadPixels(std::vector<unsigned char>& rgba, int* width, int* height) {
  if (!MakeCurrent()) return false;
  if (width) *width = backend->pbuffer.Width();
  if (height) *height = backend->pbuffer.Height();
  return backend->pbuffer.ReadPixels(rgba);
}
