// GNOME's idle source: org.gnome.Mutter.IdleMonitor on the session bus, with
// gnome-session's idle inhibitors.
#pragma once

#include "platform/IdleSource.h"

#include <memory>

// The source, or null where mutter's idle monitor is not on the session bus
// (or there is no session bus).
std::unique_ptr<IdleSource> MakeGnomeIdleSource(bool verbose);
