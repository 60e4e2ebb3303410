// EGLDisplayShared: one EGL display for off-screen work, kept once opened.

#include "platform/gl/EGLDisplayShared.h"

#include "platform/Verbose.h"

#include <EGL/eglext.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace {

std::mutex displayMutex;
EGLDisplay sharedDisplay = EGL_NO_DISPLAY;
int displayUsers = 0;

struct NativeEGLDisplay {
  EGLDisplay display = EGL_NO_DISPLAY;
  int users = 0;
};
// By connection: an X11 Display* or a wl_display*.
std::map<void*, NativeEGLDisplay> nativeDisplays;

bool HasExtension(const char* list, const char* name) {
  if (!list) return false;
  size_t len = std::strlen(name);
  for (const char* p = list; (p = std::strstr(p, name)) != nullptr; p += len) {
    if ((p == list || p[-1] == ' ') && (p[len] == ' ' || p[len] == '\0')) return true;
  }
  return false;
}

bool DisplayCanRenderGL(EGLDisplay display) {
  EGLint major = 0, minor = 0;
  if (!eglInitialize(display, &major, &minor)) return false;
  EGLConfig config;
  if (ChooseDesktopGLConfig(display, EGL_PBUFFER_BIT, &config)) return true;
  eglTerminate(display);
  return false;
}

// Tries the surfaceless platform (Mesa, no display needed), then the first EGL
// device (a GPU driver without a display), then the default display.
EGLDisplay OpenDisplay() {
  const char* clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
  auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
      eglGetProcAddress("eglGetPlatformDisplayEXT"));

  if (getPlatformDisplay && HasExtension(clientExtensions, "EGL_MESA_platform_surfaceless")) {
    EGLDisplay d = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    if (d != EGL_NO_DISPLAY && DisplayCanRenderGL(d)) return d;
  }
  if (getPlatformDisplay && HasExtension(clientExtensions, "EGL_EXT_platform_device")) {
    auto queryDevices = reinterpret_cast<PFNEGLQUERYDEVICESEXTPROC>(
        eglGetProcAddress("eglQueryDevicesEXT"));
    EGLDeviceEXT devices[8];
    EGLint count = 0;
    if (queryDevices && queryDevices(8, devices, &count)) {
      for (EGLint i = 0; i < count; ++i) {
        EGLDisplay d = getPlatformDisplay(EGL_PLATFORM_DEVICE_EXT, devices[i], nullptr);
        if (d != EGL_NO_DISPLAY && DisplayCanRenderGL(d)) return d;
      }
    }
  }
  EGLDisplay d = eglGetDisplay(EGL_DEFAULT_DISPLAY);
  if (d != EGL_NO_DISPLAY && DisplayCanRenderGL(d)) return d;
  return EGL_NO_DISPLAY;
}

}  // namespace

EGLDisplay AcquireHeadlessDisplay() {
  std::lock_guard<std::mutex> lock(displayMutex);
  if (sharedDisplay == EGL_NO_DISPLAY) {
    sharedDisplay = OpenDisplay();
    if (sharedDisplay == EGL_NO_DISPLAY) {
      std::fprintf(stderr, "glymmer: no EGL display can render OpenGL off screen\n");
      return EGL_NO_DISPLAY;
    }
  }
  ++displayUsers;
  return sharedDisplay;
}

void ReleaseHeadlessDisplay() {
  std::lock_guard<std::mutex> lock(displayMutex);
  if (displayUsers == 0) return;
  // The display itself stays initialised (see the header).
  if (--displayUsers == 0) {
    eglMakeCurrent(sharedDisplay, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglReleaseThread();
  }
}

namespace {

// An initialised display on the connection `native` of the EGL platform
// `platform` (X11 or Wayland), shared by every window on that connection.
EGLDisplay AcquireNativeDisplay(EGLenum platform, const char* extension, const char* system,
                                void* native) {
  if (!native) return EGL_NO_DISPLAY;
  std::lock_guard<std::mutex> lock(displayMutex);
  NativeEGLDisplay& entry = nativeDisplays[native];
  if (entry.users == 0) {
    const char* clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
        eglGetProcAddress("eglGetPlatformDisplayEXT"));
    EGLDisplay d = EGL_NO_DISPLAY;
    std::string ext = std::string("EGL_EXT_") + extension, khr = std::string("EGL_KHR_") + extension;
    if (getPlatformDisplay && (HasExtension(clientExtensions, ext.c_str()) ||
                               HasExtension(clientExtensions, khr.c_str())))
      d = getPlatformDisplay(platform, native, nullptr);
    if (d == EGL_NO_DISPLAY && platform == EGL_PLATFORM_X11_KHR)
      d = eglGetDisplay(reinterpret_cast<EGLNativeDisplayType>(native));
    EGLint major = 0, minor = 0;
    if (d == EGL_NO_DISPLAY || !eglInitialize(d, &major, &minor)) {
      std::fprintf(stderr, "glymmer: no EGL display on the %s (EGL error 0x%x)\n", system,
                   eglGetError());
      nativeDisplays.erase(native);
      return EGL_NO_DISPLAY;
    }
    entry.display = d;
    // Keep the driver loaded for the life of the process, as the off-screen
    // display does: terminating this display when its last window goes would
    // otherwise unload the driver, losing its one-time set-up memory each time.
    if (sharedDisplay == EGL_NO_DISPLAY) sharedDisplay = OpenDisplay();
  }
  ++entry.users;
  return entry.display;
}

void ReleaseNativeDisplay(void* native) {
  std::lock_guard<std::mutex> lock(displayMutex);
  auto it = nativeDisplays.find(native);
  if (it == nativeDisplays.end()) return;
  if (--it->second.users == 0) {
    EGLDisplay d = it->second.display;
    if (eglGetCurrentDisplay() == d)
      eglMakeCurrent(d, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglTerminate(d);
    nativeDisplays.erase(it);
  }
}

}  // namespace

EGLDisplay AcquireX11Display(void* xDisplay) {
  return AcquireNativeDisplay(EGL_PLATFORM_X11_KHR, "platform_x11", "X server", xDisplay);
}

void ReleaseX11Display(void* xDisplay) { ReleaseNativeDisplay(xDisplay); }

EGLDisplay AcquireWaylandDisplay(void* wlDisplay) {
  return AcquireNativeDisplay(EGL_PLATFORM_WAYLAND_KHR, "platform_wayland", "Wayland compositor",
                              wlDisplay);
}

void ReleaseWaylandDisplay(void* wlDisplay) { ReleaseNativeDisplay(wlDisplay); }

namespace {

EGLint ConfigAttrib(EGLDisplay display, EGLConfig config, EGLint attribute) {
  EGLint value = -1;
  return eglGetConfigAttrib(display, config, attribute, &value) ? value : -1;
}

// Whether a configuration has exactly 8 bits of red, green and blue. Toolkits
// (SDL, GLFW) take the sizes they asked for, so compositors are tried with
// these; deeper buffers (10 bits a channel, which EGL sorts first) show
// black on some of them (weston's pixman renderer).
bool EightBitColour(EGLDisplay display, EGLConfig config) {
  return ConfigAttrib(display, config, EGL_RED_SIZE) == 8 &&
         ConfigAttrib(display, config, EGL_GREEN_SIZE) == 8 &&
         ConfigAttrib(display, config, EGL_BLUE_SIZE) == 8;
}

// Window configurations that render desktop OpenGL with at least
// `minimumColourBits` a channel: those of exactly 8 bits first, deeper ones
// only after them, each group in EGL's order.
std::vector<EGLConfig> WindowConfigs(EGLDisplay display, EGLint minimumColourBits) {
  const EGLint attributes[] = {
      EGL_SURFACE_TYPE, EGL_WINDOW_BIT,
      EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
      EGL_RED_SIZE, minimumColourBits, EGL_GREEN_SIZE, minimumColourBits,
      EGL_BLUE_SIZE, minimumColourBits,
      EGL_NONE};
  EGLint count = 0;
  if (!eglChooseConfig(display, attributes, nullptr, 0, &count) || count <= 0) return {};
  std::vector<EGLConfig> configs(static_cast<size_t>(count));
  if (!eglChooseConfig(display, attributes, configs.data(), count, &count) || count <= 0) return {};
  configs.resize(static_cast<size_t>(count));
  std::stable_partition(configs.begin(), configs.end(),
                        [display](EGLConfig c) { return EightBitColour(display, c); });
  return configs;
}

unsigned long NativeVisual(EGLDisplay display, EGLConfig config) {
  EGLint visual = 0;
  if (!eglGetConfigAttrib(display, config, EGL_NATIVE_VISUAL_ID, &visual) || visual <= 0) return 0;
  return static_cast<unsigned long>(visual);
}

// The X server's description of a visual; false for 0 or an unknown id.
bool VisualInfo(Display* x, unsigned long visualId, XVisualInfo* out) {
  if (!visualId) return false;
  XVisualInfo pattern;
  std::memset(&pattern, 0, sizeof pattern);
  pattern.visualid = visualId;
  int count = 0;
  XVisualInfo* found = XGetVisualInfo(x, VisualIDMask, &pattern, &count);
  if (!found) return false;
  bool ok = count > 0;
  if (ok) *out = found[0];
  XFree(found);
  return ok;
}

}  // namespace

bool ChooseConfigForVisual(EGLDisplay display, void* xDisplay, unsigned long visualId,
                           EGLConfig* config) {
  if (!visualId) return false;
  std::vector<EGLConfig> configs = WindowConfigs(display, 1);
  for (EGLConfig c : configs) {
    if (NativeVisual(display, c) == visualId) {
      *config = c;
      return true;
    }
  }
  // A server may offer many visuals of one format (GLX adds its own), of
  // which EGL names only a few; a configuration whose visual has the same
  // depth, class and colour masks draws into such a window as well. Windows
  // that xscreensaver's settings dialog makes for a preview have one.
  XVisualInfo wanted;
  if (!xDisplay || !VisualInfo(static_cast<Display*>(xDisplay), visualId, &wanted)) return false;
  for (EGLConfig c : configs) {
    XVisualInfo have;
    if (VisualInfo(static_cast<Display*>(xDisplay), NativeVisual(display, c), &have) &&
        have.depth == wanted.depth && have.c_class == wanted.c_class &&
        have.red_mask == wanted.red_mask && have.green_mask == wanted.green_mask &&
        have.blue_mask == wanted.blue_mask) {
      *config = c;
      return true;
    }
  }
  return false;
}

bool ChooseOpaqueWindowConfig(EGLDisplay display, EGLConfig* config) {
  std::vector<EGLConfig> configs = WindowConfigs(display, 8);
  if (configs.empty()) return false;
  // Opaque before deeper colour: see-through is wrong on every compositor.
  auto opaque = std::find_if(configs.begin(), configs.end(), [display](EGLConfig c) {
    return ConfigAttrib(display, c, EGL_ALPHA_SIZE) == 0;
  });
  *config = opaque != configs.end() ? *opaque : configs.front();
  return true;
}

unsigned long PreferredWindowVisual(EGLDisplay display, unsigned long preferred) {
  std::vector<EGLConfig> configs = WindowConfigs(display, 8);
  // The preferred visual where it draws with 8 bits; a deeper one only when
  // no visual does.
  for (bool eightBit : {true, false}) {
    for (EGLConfig c : configs)
      if (preferred && EightBitColour(display, c) == eightBit && NativeVisual(display, c) == preferred)
        return preferred;
    for (EGLConfig c : configs)
      if (EightBitColour(display, c) == eightBit)
        if (unsigned long visual = NativeVisual(display, c)) return visual;
  }
  return 0;
}

void SayWindowConfig(EGLDisplay display, EGLConfig config, const char* what) {
  VerboseLine("EGL configuration 0x%x for %s: EGL_RED_SIZE %d, EGL_GREEN_SIZE %d, "
              "EGL_BLUE_SIZE %d, EGL_ALPHA_SIZE %d",
              ConfigAttrib(display, config, EGL_CONFIG_ID), what,
              ConfigAttrib(display, config, EGL_RED_SIZE),
              ConfigAttrib(display, config, EGL_GREEN_SIZE),
              ConfigAttrib(display, config, EGL_BLUE_SIZE),
              ConfigAttrib(display, config, EGL_ALPHA_SIZE));
}

bool ChooseDesktopGLConfig(EGLDisplay display, EGLint surfaceType, EGLConfig* config) {
  const EGLint attributes[] = {
      EGL_SURFACE_TYPE, surfaceType,
      EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
      EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8, EGL_ALPHA_SIZE, 8,
      EGL_NONE};
  EGLint count = 0;
  return eglChooseConfig(display, attributes, config, 1, &count) && count > 0;
}

void ReleaseCurrentContext() {
  EGLDisplay current = eglGetCurrentDisplay();
  if (current != EGL_NO_DISPLAY)
    eglMakeCurrent(current, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
}

EGLContext CreateCompatibilityContext(EGLDisplay display, EGLConfig config) {
  if (!eglBindAPI(EGL_OPENGL_API)) {
    // Some drivers offer OpenGL ES alone; the scene needs desktop OpenGL.
    std::fprintf(stderr, "glymmer: this EGL driver offers no desktop OpenGL (only OpenGL ES?)\n");
    return EGL_NO_CONTEXT;
  }
  const EGLint compatibility[] = {
      EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT,
      EGL_NONE};
  EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, compatibility);
  if (context == EGL_NO_CONTEXT) {
    // Drivers without profile support give a compatibility context by default.
    context = eglCreateContext(display, config, EGL_NO_CONTEXT, nullptr);
  }
  if (context == EGL_NO_CONTEXT)
    std::fprintf(stderr, "glymmer: cannot create an OpenGL context (EGL error 0x%x)\n",
                 eglGetError());
  return context;
}

void DestroySurfaceAndContext(EGLDisplay display, EGLSurface* surface, EGLContext* context) {
  if (*context != EGL_NO_CONTEXT && eglGetCurrentContext() == *context)
    eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
  if (*surface != EGL_NO_SURFACE) eglDestroySurface(display, *surface);
  if (*context != EGL_NO_CONTEXT) eglDestroyContext(display, *context);
  *surface = EGL_NO_SURFACE;
  *context = EGL_NO_CONTEXT;
}
