// EGLDisplayShared: the process's EGL displays: one for off-screen rendering,
// and one per X11 or Wayland connection for views in windows. Internal to the platform
// layer. The off-screen display is initialised on first use and stays
// initialised for the life of the process, so several views can come and go:
// terminating it would unload the driver, and each reload loses the driver's
// one-time set-up memory and costs a reload of the driver. A display on a
// connection is terminated when its last user lets go, as the connection may
// be closed after.
#pragma once

// Native handles are passed as plain integers and pointers, so EGL's
// headers need not bring Xlib in (whose Screen type would clash with ours).
#ifndef EGL_NO_X11
#define EGL_NO_X11
#endif
#include <EGL/egl.h>

// Returns an initialised display for off-screen (pbuffer) rendering with desktop
// OpenGL, or EGL_NO_DISPLAY. Each successful call must be paired with
// ReleaseHeadlessDisplay().
EGLDisplay AcquireHeadlessDisplay();
void ReleaseHeadlessDisplay();

// Returns an initialised EGL display on the X11 connection `xDisplay` (a
// Display*), or EGL_NO_DISPLAY. Every view on that connection gets the same
// display. Each successful call must be paired with ReleaseX11Display() with
// the same connection, before the connection is closed.
EGLDisplay AcquireX11Display(void* xDisplay);
void ReleaseX11Display(void* xDisplay);

// The same for the Wayland connection `wlDisplay` (a wl_display*).
EGLDisplay AcquireWaylandDisplay(void* wlDisplay);
void ReleaseWaylandDisplay(void* wlDisplay);

// Chooses a window configuration that renders desktop OpenGL with at least 8
// bits per colour: one without alpha where one is offered (a compositor shows
// a colour buffer's alpha as see-through, and the scene clears with alpha 0),
// and among those one of exactly 8 bits before deeper ones. False if there is
// no window configuration at all.
bool ChooseOpaqueWindowConfig(EGLDisplay display, EGLConfig* config);

// Chooses a window configuration that renders desktop OpenGL into windows of
// the X visual `visualId`: the first whose native visual is that visual, else
// the first whose native visual has the same depth, class and colour masks
// (looked up on the X display `xDisplay`, a Display*); among them, one of
// exactly 8 bits per colour before deeper ones, then EGL's order. False if none.
bool ChooseConfigForVisual(EGLDisplay display, void* xDisplay, unsigned long visualId,
                           EGLConfig* config);

// The native visual of a window configuration that renders desktop OpenGL
// with exactly 8 bits per colour (at least 8 where none has exactly 8),
// preferring `preferred` when such a configuration offers it. 0 when there
// is none.
unsigned long PreferredWindowVisual(EGLDisplay display, unsigned long preferred);

// One --verbose line naming the configuration `config` and its colour sizes,
// for the surface named `what`.
void SayWindowConfig(EGLDisplay display, EGLConfig config, const char* what);

// Chooses an RGBA8 configuration of the given surface type that can render
// desktop OpenGL. Prefers the smallest depth and stencil buffers. False if none.
bool ChooseDesktopGLConfig(EGLDisplay display, EGLint surfaceType, EGLConfig* config);

// Leaves no context current on the calling thread, so that OpenGL calls made
// after a failed MakeCurrent cannot reach another view's context.
void ReleaseCurrentContext();

// Destroys a view's surface and context (either may be missing), first
// leaving the context if it is current, and sets both to none.
void DestroySurfaceAndContext(EGLDisplay display, EGLSurface* surface, EGLContext* context);

// Creates a desktop OpenGL compatibility-profile context, or EGL_NO_CONTEXT
// (with the reason on standard error).
EGLContext CreateCompatibilityContext(EGLDisplay display, EGLConfig config);
