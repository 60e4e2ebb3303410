// WindowGL: desktop OpenGL on an EGL window surface.

#include "platform/gl/WindowGL.h"

#include "platform/gl/EGLDisplayShared.h"

#include <GL/gl.h>

#include <cstdio>
#include <time.h>

namespace {

// A swap that waits for the refresh longer than this waits for something
// else: a monitor that is off, a window the server shows nowhere (some
// servers then give it a refresh a second, some drivers none at all). The
// slowest monitors refresh 24 times a second, and a swap may wait for two
// refreshes with a frame queued.
constexpr double kLongestRefreshWait = 0.1;

double Seconds() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

}  // namespace

struct WindowGL::Impl {
  void* xDisplay = nullptr;  // the connection: an X11 Display* or a wl_display*
  EGLDisplay display = EGL_NO_DISPLAY;
  EGLConfig config = nullptr;
  EGLContext context = EGL_NO_CONTEXT;
  EGLSurface surface = EGL_NO_SURFACE;
  unsigned long visual = 0;
  bool offersWait = false;   // the driver lets swaps wait for the refresh, or not
  bool waits = false;        // swaps wait for the refresh (swap interval 1)
  bool gaveUp = false;       // a swap waited too long; no more waiting until asked anew
};

WindowGL::WindowGL() : impl(new Impl) {}

WindowGL::~WindowGL() { Destroy(); }

bool WindowGL::Create(void* xDisplay, unsigned long window, unsigned long visualId) {
  Destroy();
  if (!xDisplay || !window) return false;
  impl->display = AcquireX11Display(xDisplay);
  if (impl->display == EGL_NO_DISPLAY) return false;
  impl->xDisplay = xDisplay;
  if (!ChooseConfigForVisual(impl->display, xDisplay, visualId, &impl->config)) {
    std::fprintf(stderr,
                 "glymmer: no OpenGL configuration draws with the visual 0x%lx of window 0x%lx\n",
                 visualId, window);
    Destroy();
    return false;
  }
  impl->visual = visualId;
  char what[48];
  std::snprintf(what, sizeof what, "window 0x%lx", window);
  // Swaps begin without waiting for the monitor; SetWaitForRefresh lets
  // them wait where the driver offers the choice. Drivers that pace nothing
  // (Mesa's software renderer on a plain X server) have one swap interval
  // only.
  if (!CreateSurface(static_cast<EGLNativeWindowType>(window), what)) return false;
  EGLint least = 1, most = 0;
  impl->offersWait =
      eglGetConfigAttrib(impl->display, impl->config, EGL_MIN_SWAP_INTERVAL, &least) &&
      eglGetConfigAttrib(impl->display, impl->config, EGL_MAX_SWAP_INTERVAL, &most) &&
      least == 0 && most >= 1;
  return true;
}

bool WindowGL::CreateOnWayland(void* wlDisplay, void* eglWindow) {
  Destroy();
  if (!wlDisplay || !eglWindow) return false;
  impl->display = AcquireWaylandDisplay(wlDisplay);
  if (impl->display == EGL_NO_DISPLAY) return false;
  impl->xDisplay = wlDisplay;
  if (!ChooseOpaqueWindowConfig(impl->display, &impl->config)) {
    std::fprintf(stderr,
                 "glymmer: no desktop OpenGL configuration draws into Wayland surfaces here\n");
    Destroy();
    return false;
  }
  // With a swap interval of 1 a swap waits for the compositor's frame
  // callback, and a compositor sends none while the surface is hidden
  // (covered, on a locked session, on an output that is off): the whole
  // loop, every other view and every way out with it, would wait forever.
  // Ticks pace the frames instead, as on X11.
  return CreateSurface(reinterpret_cast<EGLNativeWindowType>(eglWindow), "the Wayland surface");
}

bool WindowGL::CreateSurface(EGLNativeWindowType native, const char* what) {
  impl->context = CreateCompatibilityContext(impl->display, impl->config);
  if (impl->context == EGL_NO_CONTEXT) {
    Destroy();
    return false;
  }
  // Drawing goes to the back buffer and swaps show whole frames.
  const EGLint attributes[] = {EGL_RENDER_BUFFER, EGL_BACK_BUFFER, EGL_NONE};
  impl->surface = eglCreateWindowSurface(impl->display, impl->config, native, attributes);
  if (impl->surface == EGL_NO_SURFACE) {
    std::fprintf(stderr, "glymmer: cannot draw into %s (EGL error 0x%x)\n", what, eglGetError());
    Destroy();
    return false;
  }
  SayWindowConfig(impl->display, impl->config, what);
  if (!MakeCurrent()) {
    std::fprintf(stderr, "glymmer: cannot use the OpenGL context of %s (EGL error 0x%x)\n", what,
                 eglGetError());
    Destroy();
    return false;
  }
  eglSwapInterval(impl->display, 0);
  return true;
}

bool WindowGL::MakeCurrent() {
  if (impl->context == EGL_NO_CONTEXT || impl->surface == EGL_NO_SURFACE) return false;
  if (!eglBindAPI(EGL_OPENGL_API)) return false;
  return eglMakeCurrent(impl->display, impl->surface, impl->surface, impl->context) == EGL_TRUE;
}

bool WindowGL::SetWaitForRefresh(bool wait) {
  if (impl->surface == EGL_NO_SURFACE) return false;
  if (!wait) {
    impl->gaveUp = false;
    if (impl->waits) eglSwapInterval(impl->display, 0);
    impl->waits = false;
    return false;
  }
  if (!impl->offersWait || impl->gaveUp) return false;
  if (!impl->waits) impl->waits = eglSwapInterval(impl->display, 1) == EGL_TRUE;
  return impl->waits;
}

bool WindowGL::WaitsForRefresh() const { return impl->waits; }

bool WindowGL::SwapBuffers() {
  if (impl->surface == EGL_NO_SURFACE) return false;
  double start = impl->waits ? Seconds() : 0;
  bool swapped = eglSwapBuffers(impl->display, impl->surface) == EGL_TRUE;
  if (impl->waits && Seconds() - start > kLongestRefreshWait) {
    // Never again for this window until it is asked anew: the loop and
    // every other view would wait as long at each frame.
    eglSwapInterval(impl->display, 0);
    impl->waits = false;
    impl->gaveUp = true;
  }
  return swapped;
}

void WindowGL::Destroy() {
  if (impl->display == EGL_NO_DISPLAY) return;
  DestroySurfaceAndContext(impl->display, &impl->surface, &impl->context);
  impl->display = EGL_NO_DISPLAY;
  impl->visual = 0;
  impl->offersWait = impl->waits = impl->gaveUp = false;
  // One release serves both kinds of connection.
  ReleaseX11Display(impl->xDisplay);
  impl->xDisplay = nullptr;
}

bool WindowGL::IsValid() const { return impl->surface != EGL_NO_SURFACE; }

int WindowGL::Width() const {
  EGLint w = 0;
  if (impl->surface == EGL_NO_SURFACE || !eglQuerySurface(impl->display, impl->surface, EGL_WIDTH, &w))
    return 0;
  return w;
}

int WindowGL::Height() const {
  EGLint h = 0;
  if (impl->surface == EGL_NO_SURFACE ||
      !eglQuerySurface(impl->display, impl->surface, EGL_HEIGHT, &h))
    return 0;
  return h;
}

unsigned long WindowGL::Visual() const { return impl->visual; }

bool WindowGL::ReadPixels(std::vector<unsigned char>& rgba) const {
  int w = Width(), h = Height();
  if (w <= 0 || h <= 0) return false;
  rgba.assign(static_cast<size_t>(w) * static_cast<size_t>(h) * 4, 0);
  // Errors that earlier drawing left behind are not this read's.
  for (int i = 0; i < 16 && glGetError() != GL_NO_ERROR; ++i) {
  }
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
  return glGetError() == GL_NO_ERROR;
}

unsigned long WindowGL::PreferredVisual(void* xDisplay, unsigned long preferred) {
  EGLDisplay display = AcquireX11Display(xDisplay);
  if (display == EGL_NO_DISPLAY) return 0;
  unsigned long visual = PreferredWindowVisual(display, preferred);
  ReleaseX11Display(xDisplay);
  return visual;
}
