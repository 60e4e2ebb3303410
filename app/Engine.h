// Engine: the glymmer program's modes, each creating its views, driving them
// on this thread and destroying them in order.
#pragma once

#include "Options.h"

#include <csignal>

// Set by SIGINT and SIGTERM; every mode's loop ends when it is non-zero.
extern volatile std::sig_atomic_t gStopSignal;

// Installs the handlers that set gStopSignal.
void InstallStopHandlers();

// The on-screen modes (window, preview, full screen, xscreensaver hack) on
// the X server named by DISPLAY. Returns the process exit status: 0 when the
// mode ended as it should (window closed, Escape, a key or the pointer at full
// screen, a signal), 1 when it could not start. The hack mode never ends by
// itself: whatever fails, it waits for SIGTERM and returns 0.
int RunOnScreen(const Options& options);

// Headless render to numbered PNG files. Returns the process exit status.
int RunRender(const Options& options);

// Shows the configuration sheet until it ends. Returns the exit status.
int RunConfigure(const Options& options);
