// DisplaySystem: choosing the display system.

#include "platform/DisplaySystem.h"

#include <cctype>
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

namespace {

std::string WaylandDisplayName() {
  const char* name = std::getenv("WAYLAND_DISPLAY");
  std::string display = name && *name ? name : "wayland-0";
  // Clients take a relative name inside the runtime folder.
  const char* folder = std::getenv("XDG_RUNTIME_DIR");
  std::string runtime = folder && *folder ? folder : "";
  while (runtime.size() > 1 && runtime.back() == '/') runtime.pop_back();
  runtime += '/';
  if (runtime.size() > 1 && display.compare(0, runtime.size(), runtime) == 0 &&
      display.find('/', runtime.size()) == std::string::npos)
    display.erase(0, runtime.size());
  return display;
}

// DISPLAY is [protocol/][host]:number[.screen]; the screen is one display's.
std::string X11DisplayName() {
  const char* name = std::getenv("DISPLAY");
  std::string display = name ? name : "";
  size_t colon = display.rfind(':');
  if (colon == std::string::npos) return display;
  std::string host = display.substr(0, colon);
  size_t slash = host.find('/');
  std::string protocol = slash == std::string::npos ? "" : host.substr(0, slash);
  if (slash != std::string::npos) host.erase(0, slash + 1);
  char* end = nullptr;
  unsigned long number = std::strtoul(display.c_str() + colon + 1, &end, 10);
  if (end == display.c_str() + colon + 1) return display;
  bool local = (host.empty() || host == "unix") && (protocol.empty() || protocol == "unix");
  return (local ? std::string() : (protocol.empty() ? "" : protocol + "/") + host) + ":" +
         std::to_string(number);
}

}  // namespace

std::string DisplayLockName(DisplayBackend backend) {
  std::string name = backend == DisplayBackend::kWayland ? WaylandDisplayName() : X11DisplayName();
  for (char& c : name)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_' ||
          c == ':'))
      c = '_';
  return name;
}

std::unique_ptr<DisplaySystem> MakeDisplaySystem(DisplayBackend backend) {
  return backend == DisplayBackend::kWayland ? MakeWaylandSystem() : MakeX11System();
}

bool HaveSaverLayer() { return GLYMMER_HAVE_LAYER_SHELL; }
