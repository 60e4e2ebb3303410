// Engine: the glymmer program's modes, each creating its views, driving them
// on this thread and destroying them in order.
#pragma once

#include "Options.h"

#include <csignal>

// Set by SIGINT, SIGTERM and SIGUSR1; every mode's loop ends when it is non-zero.
extern volatile std::sig_atomic_t gStopSignal;

// Installs the handlers that set gStopSignal.
void InstallStopHandlers();

// Ends the process with `status` if it has not ended by itself within
// `seconds`, as after a stop signal: for a teardown that may hang in a
// driver whose display is gone.
void EndWithin(unsigned seconds, int status);

// With --detach, tells the process that started this one whether the views
// came up (it then ends with 0, or 1); once, later calls do nothing. Without
// --detach it does nothing.
void ReportStarted(bool started);

// With --shown-fd, tells the process that started this one (the idle
// watcher) that every view has shown its first frame; once, later calls do
// nothing.
void ReportShown();

// The on-screen modes (window, preview, full screen, the Wayland saver layer,
// xscreensaver hack) on the display system that --backend or the environment
// names (WAYLAND_DISPLAY, then DISPLAY; a hack is always on X11). Returns the
// process exit status: 0 when the mode ended as it should (window closed,
// Escape, input at full screen or in the saver, a signal), 1 when it could
// not start or the display went away. The hack mode never ends by itself:
// whatever fails, it waits for SIGTERM and returns 0.
int RunOnScreen(const Options& options);

// The idle watcher: starts the saver (this program, --saver or --fullscreen)
// as a child once the session has been idle for the delay (--after, else the
// stored one), and again after each return of the user. Returns 0 when ended
// by SIGTERM or SIGINT, 1 when it could not start (no idle source, another
// watcher or an xscreensaver daemon on the session) or the session's display
// or bus went away. It handles its signals itself: call it before
// InstallStopHandlers.
int RunIdle(const Options& options);

// Headless render to numbered PNG files. Returns the process exit status.
int RunRender(const Options& options);

// Shows the configuration sheet until it ends. Returns the exit status.
int RunConfigure(const Options& options);
