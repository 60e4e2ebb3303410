// SessionLock: news of the session locking, for the idle watcher, which ends
// the saver then: nothing should draw under a lock screen, nor be left to
// dismiss after unlocking.
#pragma once

#include "platform/IdleSource.h"

#include <memory>

// A watch over what this session offers: logind's Lock signal for this
// session on the system bus (the session from XDG_SESSION_ID, else the one
// this process belongs to), and ActiveChanged(true) of
// org.freedesktop.ScreenSaver (KDE and others) and org.gnome.ScreenSaver
// (GNOME Shell) on the session bus. A bus that is missing is left out; null
// when neither is there. `verbose` says on standard error what is watched.
std::unique_ptr<LockWatch> MakeLockWatch(bool verbose = false);
