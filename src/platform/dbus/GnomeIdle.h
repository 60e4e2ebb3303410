// GnomeIdle: GNOME's idle time for the idle watcher, and GNOME's own screen
// blanking delay. mutter offers no Wayland idle protocol; it tells idle and
// activity over the session bus instead (org.gnome.Mutter.IdleMonitor).
#pragma once

#include "platform/IdleSource.h"

#include <memory>

// The source's Name(): GNOME's blanking delay matters only where it is used.
constexpr const char kGnomeIdleSourceName[] = "org.gnome.Mutter.IdleMonitor";

// A source over mutter's idle monitor, or null when no
// org.gnome.Mutter.IdleMonitor is on the session bus (or there is no session
// bus); `verbose` says why on standard error, and says whether
// gnome-session's idle inhibitors are asked. Its watches live as long as the
// source: they are tied to a bus connection of its own. It says kLost when
// the bus goes away; an idle monitor that goes away (GNOME Shell restarting)
// is waited for, said on stderr, and watched again when it is back.
// Inhibited() is gnome-session's answer for the idle flag (an inhibitor such
// as a video player that keeps the session from idling), false where
// gnome-session does not run; while the session is idle, each inhibitor that
// gnome-session removes brings kLookAgain.
std::unique_ptr<IdleSource> MakeGnomeIdleSource(bool verbose);
