// EGLDisplayShared: the process's one EGL display for off-screen rendering.
// Internal to the platform layer: the display is initialised on first use and
// stays initialised for the life of the process, so several views can come and
// go. Terminating it would unload the driver, and each reload loses the
// driver's one-time set-up memory and costs a reload of the driver.
#pragma once

#include <EGL/egl.h>

// Returns an initialised display for off-screen (pbuffer) rendering with desktop
// OpenGL, or EGL_NO_DISPLAY. Each successful call must be paired with
// ReleaseHeadlessDisplay().
EGLDisplay AcquireHeadlessDisplay();
void ReleaseHeadlessDisplay();

// Chooses an RGBA8 configuration of the given surface type that can render
// desktop OpenGL. Prefers the smallest depth and stencil buffers. False if none.
bool ChooseDesktopGLConfig(EGLDisplay display, EGLint surfaceType, EGLConfig* config);

// Creates a desktop OpenGL compatibility-profile context, or EGL_NO_CONTEXT.
EGLContext CreateCompatibilityContext(EGLDisplay display, EGLConfig config);
