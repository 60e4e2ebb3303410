// The one line said when a Wayland connection ends under us: the views' and
// the idle watcher's connections say it alike.
#pragma once

#include <wayland-client.h>

namespace wayland {

// Says on stderr why `display` (may be null) was lost: the protocol error
// that ended it, or that the compositor went away.
void SayConnectionLost(wl_display* display);

}  // namespace wayland
