// EGLDisplayShared: one EGL display for off-screen work, kept once opened.

#include "platform/EGLDisplayShared.h"

#include <EGL/eglext.h>

#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

std::mutex displayMutex;
EGLDisplay sharedDisplay = EGL_NO_DISPLAY;
int displayUsers = 0;

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

bool ChooseDesktopGLConfig(EGLDisplay display, EGLint surfaceType, EGLConfig* config) {
  const EGLint attributes[] = {
      EGL_SURFACE_TYPE, surfaceType,
      EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
      EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8, EGL_ALPHA_SIZE, 8,
      EGL_NONE};
  EGLint count = 0;
  return eglChooseConfig(display, attributes, config, 1, &count) && count > 0;
}

EGLContext CreateCompatibilityContext(EGLDisplay display, EGLConfig config) {
  if (!eglBindAPI(EGL_OPENGL_API)) return EGL_NO_CONTEXT;
  const EGLint compatibility[] = {
      EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT,
      EGL_NONE};
  EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, compatibility);
  if (context == EGL_NO_CONTEXT) {
    // Drivers without profile support give a compatibility context by default.
    context = eglCreateContext(display, config, EGL_NO_CONTEXT, nullptr);
  }
  return context;
}
