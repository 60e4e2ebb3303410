// The session lock, as the desktop announces it: logind's Lock, the
// desktop's org.freedesktop.ScreenSaver / org.gnome.ScreenSaver ActiveChanged.
#pragma once

#include "platform/IdleSource.h"

#include <memory>

// The watch, or null where the session offers nothing to watch.
std::unique_ptr<LockWatch> MakeLockWatch();
