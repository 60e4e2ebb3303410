// Engine: the glymmer program's modes, each creating its views, driving them
// on this thread and destroying them in order.
#pragma once

#include "Options.h"

#include <csignal>

// Set by SIGINT and SIGTERM; every mode's loop ends when it is non-zero.
extern volatile std::sig_atomic_t gStopSignal;

// Installs the handlers that set gStopSignal.
void InstallStopHandlers();

// Headless render to numbered PNG files. Returns the process exit status.
int RunRender(const Options& options);

// Shows the configuration sheet until it ends. Returns the exit status.
int RunConfigure(const Options& options);
