// DisplaySystem: choosing the display system.

#include "platform/DisplaySystem.h"

#include <cstdlib>

std::unique_ptr<DisplaySystem> MakeX11System();
std::unique_ptr<DisplaySystem> MakeWaylandSystem();

bool DisplayBackendFromEnvironment(DisplayBackend* backend) {
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  const char* x11 = std::getenv("DISPLAY");
  if (wayland && *wayland) {
    *backend = DisplayBackend::kWayland;
    return true;
  }
  if (x11 && *x11) {
    *backend = DisplayBackend::kX11;
    return true;
  }
  return false;
}

std::unique_ptr<DisplaySystem> MakeDisplaySystem(DisplayBackend backend) {
  return backend == DisplayBackend::kWayland ? MakeWaylandSystem() : MakeX11System();
}

bool HaveSaverLayer() { return GLYMMER_HAVE_LAYER_SHELL; }
