// EGLDisplayShared: the process's one EGL display for off-screen rendering.
// Internal to the platform layer: the display is initialised on first use and
// terminated when the last user lets go, so several views can come and go.
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
