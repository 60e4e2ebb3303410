// IdleSource: choosing the source of idle news that the session offers.

#include "platform/IdleSource.h"

#include "platform/dbus/GnomeIdle.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

std::unique_ptr<IdleSource> MakeWaylandIdleSource(std::string* lookedFor);
std::unique_ptr<IdleSource> MakeX11IdleSource(std::string* lookedFor);

std::unique_ptr<IdleSource> MakeIdleSource(bool verbose, std::string* lookedFor) {
  std::string looked;
  auto add = [&](const std::string& what) { looked += (looked.empty() ? "" : "; ") + what; };
  // What was passed over is said once: where no source is found, the caller
  // says all of it.
  auto found = [&](std::unique_ptr<IdleSource> source) {
    if (verbose && !looked.empty())
      std::fprintf(stderr, "glymmer: idle source not found: %s\n", looked.c_str());
    return source;
  };
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  bool onWayland = wayland && *wayland;
  if (onWayland) {
    std::string what;
    if (std::unique_ptr<IdleSource> source = MakeWaylandIdleSource(&what)) return source;
    add(what);
  }
  if (std::unique_ptr<IdleSource> source = MakeGnomeIdleSource(verbose))
    return found(std::move(source));
  add("org.gnome.Mutter.IdleMonitor on the session bus");
  // Under Wayland the X server (Xwayland) sees only the input that goes to
  // X clients: its idle time would start the saver while the user types.
  const char* x11 = std::getenv("DISPLAY");
  if (!onWayland && x11 && *x11) {
    std::string what;
    if (std::unique_ptr<IdleSource> source = MakeX11IdleSource(&what)) return found(std::move(source));
    add(what);
  } else if (!onWayland) {
    add("MIT-SCREEN-SAVER (DISPLAY is not set)");
  }
  *lookedFor = looked;
  return nullptr;
}
