// The connection to the compositor: its globals, its outputs (named and
// placed through xdg-output) and the screens they make, the one-saver lock,
// and reading what the compositor sends into the engine's queue of events.

#include "platform/wayland/WaylandSystem.h"
#include "platform/wayland/Lost.h"

namespace wayland {

namespace {

void OnGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface,
              uint32_t version) {
  static_cast<WaylandSystem*>(data)->Global(registry, name, interface, version);
}
void OnGlobalRemove(void* data, wl_registry*, uint32_t name) {
  static_cast<WaylandSystem*>(data)->GlobalRemoved(name);
}
const wl_registry_listener kRegistryListener = {OnGlobal, OnGlobalRemove};

void OnPing(void*, xdg_wm_base* base, uint32_t serial) { xdg_wm_base_pong(base, serial); }
const xdg_wm_base_listener kWmBaseListener = {OnPing};

const wl_output_listener* OutputListener() {
  static const wl_output_listener listener = [] {
    wl_output_listener l{};
    l.geometry = [](void* data, wl_output*, int32_t x, int32_t y, int32_t, int32_t, int32_t,
                    const char*, const char*, int32_t transform) {
      Output* o = static_cast<Output*>(data);
      o->geometryX = x;
      o->geometryY = y;
      o->transform = transform;
    };
    l.mode = [](void* data, wl_output*, uint32_t flags, int32_t width, int32_t height,
                int32_t refresh) {
      Output* o = static_cast<Output*>(data);
      if (!(flags & WL_OUTPUT_MODE_CURRENT)) return;
      o->modeWidth = width;
      o->modeHeight = height;
      o->refreshMilliHz = std::max(0, refresh);
    };
    l.done = [](void* data, wl_output*) {
      Output* o = static_cast<Output*>(data);
      o->system->OutputDone(o);
    };
    l.scale = [](void* data, wl_output*, int32_t factor) {
      static_cast<Output*>(data)->scale = std::max(1, factor);
    };
    l.name = [](void* data, wl_output*, const char* name) {
      static_cast<Output*>(data)->name = name ? name : "";
    };
    l.description = [](void*, wl_output*, const char*) {};
    return l;
  }();
  return &listener;
}

const zxdg_output_v1_listener* XdgOutputListener() {
  static const zxdg_output_v1_listener listener = [] {
    zxdg_output_v1_listener l{};
    l.logical_position = [](void* data, zxdg_output_v1*, int32_t x, int32_t y) {
      Output* o = static_cast<Output*>(data);
      o->logicalX = x;
      o->logicalY = y;
      o->hasLogical = true;
    };
    l.logical_size = [](void* data, zxdg_output_v1*, int32_t width, int32_t height) {
      Output* o = static_cast<Output*>(data);
      o->logicalWidth = width;
      o->logicalHeight = height;
      o->hasLogical = true;
    };
    l.done = [](void*, zxdg_output_v1*) {};  // wl_output's done closes each burst
    l.name = [](void* data, zxdg_output_v1*, const char* name) {
      Output* o = static_cast<Output*>(data);
      if (o->name.empty() && name) o->name = name;
    };
    l.description = [](void*, zxdg_output_v1*, const char*) {};
    return l;
  }();
  return &listener;
}

}  // namespace

template <typename T>
T* Bind(wl_registry* registry, uint32_t name, const wl_interface* interface, uint32_t offered,
        uint32_t wanted) {
  return static_cast<T*>(wl_registry_bind(registry, name, interface, std::min(offered, wanted)));
}

void WaylandSystem::Global(wl_registry* r, uint32_t name, const char* interface,
                           uint32_t version) {
  std::string i = interface;
  if (i == wl_compositor_interface.name) {
    compositor = Bind<wl_compositor>(r, name, &wl_compositor_interface, version, 4);
  } else if (i == wl_shm_interface.name) {
    shm = Bind<wl_shm>(r, name, &wl_shm_interface, version, 1);
  } else if (i == xdg_wm_base_interface.name) {
    wmBase = Bind<xdg_wm_base>(r, name, &xdg_wm_base_interface, version, 2);
    xdg_wm_base_add_listener(wmBase, &kWmBaseListener, this);
  } else if (i == zxdg_decoration_manager_v1_interface.name) {
    decorations = Bind<zxdg_decoration_manager_v1>(r, name, &zxdg_decoration_manager_v1_interface,
                                                   version, 1);
  } else if (i == zxdg_output_manager_v1_interface.name) {
    outputManager =
        Bind<zxdg_output_manager_v1>(r, name, &zxdg_output_manager_v1_interface, version, 3);
    for (auto& o : outputs) WatchOutput(o.get());
  } else if (i == wp_viewporter_interface.name) {
    viewporter = Bind<wp_viewporter>(r, name, &wp_viewporter_interface, version, 1);
  } else if (i == wp_presentation_interface.name) {
    presentation = Bind<wp_presentation>(r, name, &wp_presentation_interface, version, 1);
  } else if (i == wp_fractional_scale_manager_v1_interface.name) {
    fractionalScales = Bind<wp_fractional_scale_manager_v1>(
        r, name, &wp_fractional_scale_manager_v1_interface, version, 1);
#if GLYMMER_HAVE_LAYER_SHELL
  } else if (i == zwlr_layer_shell_v1_interface.name) {
    layerShell = Bind<zwlr_layer_shell_v1>(r, name, &zwlr_layer_shell_v1_interface, version, 3);
#endif
  } else if (i == wl_seat_interface.name && !seat) {
    seat = Bind<wl_seat>(r, name, &wl_seat_interface, version, 5);
    wl_seat_add_listener(seat, SeatListener(), this);
  } else if (i == wl_output_interface.name) {
    std::unique_ptr<Output> o(new Output);
    o->system = this;
    o->global = name;
    o->output = Bind<wl_output>(r, name, &wl_output_interface, version, 4);
    wl_output_add_listener(o->output, OutputListener(), o.get());
    WatchOutput(o.get());
    outputs.push_back(std::move(o));
  }
}

void WaylandSystem::WatchOutput(Output* o) {
  if (!outputManager || o->xdg) return;
  o->xdg = zxdg_output_manager_v1_get_xdg_output(outputManager, o->output);
  zxdg_output_v1_add_listener(o->xdg, XdgOutputListener(), o);
}

void WaylandSystem::OutputDone(Output* o) {
  o->done = true;
  if (!ready) return;  // Connect announces the first ones together
  outputsMoved = true;
  if (!o->announced) {
    o->announced = true;
    o->number = nextNumber++;
    UpdateScreens();
    WindowEvent e;
    e.kind = WindowEvent::kOutputAdded;
    e.output = o->global;
    Push(e);
    return;
  }
  // A change of mode or scale: the screens follow, and so do the surfaces
  // on it.
  UpdateScreens();
  for (auto& s : surfaces) Rescale(s.get());
}

void WaylandSystem::GlobalRemoved(uint32_t name) {
  for (size_t i = 0; i < outputs.size(); ++i) {
    Output* o = outputs[i].get();
    if (o->global != name) continue;
    bool announced = o->announced;
    for (auto& s : surfaces)
      s->entered.erase(std::remove(s->entered.begin(), s->entered.end(), name), s->entered.end());
    if (o->xdg) zxdg_output_v1_destroy(o->xdg);
    if (wl_output_get_version(o->output) >= WL_OUTPUT_RELEASE_SINCE_VERSION)
      wl_output_release(o->output);
    else
      wl_output_destroy(o->output);
    outputs.erase(outputs.begin() + static_cast<long>(i));
    outputsMoved = true;
    if (announced) {
      UpdateScreens();
      WindowEvent e;
      e.kind = WindowEvent::kOutputRemoved;
      e.output = name;
      Push(e);
    }
    return;
  }
}

Output* WaylandSystem::MainOutput() {
  Output* first = nullptr;
  for (auto& o : outputs) {
    if (!o->announced) continue;
    if (!settings.mainOutput.empty() && o->name == settings.mainOutput) return o.get();
    if (!first || o->number < first->number) first = o.get();
  }
  return first;
}

void WaylandSystem::UpdateScreens() {
  std::vector<Output*> shown;
  for (auto& o : outputs)
    if (o->announced) shown.push_back(o.get());
  std::sort(shown.begin(), shown.end(),
            [](const Output* a, const Output* b) { return a->number < b->number; });
  if (shown.size() > 64) shown.resize(64);
  Output* main = MainOutput();
  if (shown.empty()) {
    ResetScreens();
    return;
  }
  std::vector<Screen> screens;
  int mainIndex = 0;
  for (Output* o : shown) {
    Screen s;
    s.number = o->number;
    s.x = o->X();
    s.y = o->Y();
    s.width = o->PixelWidth();
    s.height = o->PixelHeight();
    std::snprintf(s.name, sizeof s.name, "%s", o->name.c_str());
    if (o == main) mainIndex = static_cast<int>(screens.size());
    screens.push_back(s);
  }
  SetScreens(screens, mainIndex);
  if (settings.verbose && main && main->name != mainName) {
    mainName = main->name;
    std::fprintf(stderr, "glymmer: main output: %s (%s)\n", main->name.c_str(),
                 main->name == settings.mainOutput ? "named by --main-output"
                                                   : "the first the compositor announced");
  }
}

bool WaylandSystem::Connect(const DisplaySettings& wanted) {
  Disconnect();
  settings = wanted;
  display = wl_display_connect(nullptr);
  if (!display) {
    const char* name = std::getenv("WAYLAND_DISPLAY");
    std::fprintf(stderr, "glymmer: cannot connect to the Wayland compositor \"%s\"\n",
                 name ? name : "wayland-0");
    return false;
  }
  registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &kRegistryListener, this);
  // The globals, then each output's description and the seat's abilities.
  if (wl_display_roundtrip(display) < 0 || wl_display_roundtrip(display) < 0) {
    std::fprintf(stderr, "glymmer: the Wayland compositor does not answer\n");
    Disconnect();
    return false;
  }
  if (!compositor || !wmBase) {
    std::fprintf(stderr, "glymmer: the Wayland compositor offers no %s\n",
                 compositor ? "xdg-shell (xdg_wm_base)" : "wl_compositor");
    Disconnect();
    return false;
  }
  ready = true;
  for (auto& o : outputs) {
    if (!o->done) continue;
    o->announced = true;
    o->number = nextNumber++;
  }
  if (!settings.mainOutput.empty()) {
    bool found = false;
    for (auto& o : outputs) found = found || (o->announced && o->name == settings.mainOutput);
    if (!found)
      std::fprintf(stderr, "glymmer: no output is called \"%s\"; the first one is main\n",
                   settings.mainOutput.c_str());
  }
  UpdateScreens();
  return true;
}

void WaylandSystem::Disconnect() {
  while (!surfaces.empty()) DestroySurface(surfaces.back().get());
  if (keyboard) wl_keyboard_destroy(keyboard);
  if (pointer) wl_pointer_destroy(pointer);
  keyboard = nullptr;
  pointer = nullptr;
  keyboardFocus = pointerFocus = nullptr;
  for (auto& o : outputs) {
    if (o->xdg) zxdg_output_v1_destroy(o->xdg);
    wl_output_destroy(o->output);
  }
  outputs.clear();
  EndDecor();
  if (seat) wl_seat_destroy(seat);
  if (decorations) zxdg_decoration_manager_v1_destroy(decorations);
  if (outputManager) zxdg_output_manager_v1_destroy(outputManager);
  if (viewporter) wp_viewporter_destroy(viewporter);
  if (fractionalScales) wp_fractional_scale_manager_v1_destroy(fractionalScales);
  if (presentation) wp_presentation_destroy(presentation);
#if GLYMMER_HAVE_LAYER_SHELL
  if (layerShell) zwlr_layer_shell_v1_destroy(layerShell);
#endif
  if (wmBase) xdg_wm_base_destroy(wmBase);
  if (shm) wl_shm_destroy(shm);
  if (compositor) wl_compositor_destroy(compositor);
  if (registry) wl_registry_destroy(registry);
  seat = nullptr;
  decorations = nullptr;
  outputManager = nullptr;
  viewporter = nullptr;
  fractionalScales = nullptr;
  presentation = nullptr;
  layerShell = nullptr;
  wmBase = nullptr;
  shm = nullptr;
  compositor = nullptr;
  registry = nullptr;
  if (display) {
    wl_display_flush(display);
    wl_display_disconnect(display);
  }
  display = nullptr;
  events.clear();
  ready = false;
  lost = false;
  mainName.clear();
  if (saverLock >= 0) close(saverLock);
  saverLock = -1;
}

std::vector<DisplayOutput> WaylandSystem::Outputs() {
  std::vector<DisplayOutput> list;
  Output* main = MainOutput();
  for (auto& o : outputs) {
    if (!o->announced) continue;
    DisplayOutput d;
    d.id = o->global;
    d.screen = o->number;
    d.name = o->name;
    d.x = o->X();
    d.y = o->Y();
    d.width = o->PixelWidth();
    d.height = o->PixelHeight();
    d.scale = o->scale;
    d.main = o.get() == main;
    list.push_back(d);
  }
  std::sort(list.begin(), list.end(),
            [](const DisplayOutput& a, const DisplayOutput& b) { return a.screen < b.screen; });
  return list;
}

NSSize WaylandSystem::DesktopSize() {
  Output* main = MainOutput();
  if (!main) return NSMakeSize(1920, 1080);
  return NSMakeSize(main->LogicalWidth(), main->LogicalHeight());
}

bool WaylandSystem::Supports(SurfaceKind kind) {
  if (kind == SurfaceKind::kForeign) {
    std::fprintf(stderr,
                 "glymmer: drawing into another program's window (-root, -window-id) needs X11\n");
    return false;
  }
  if (kind == SurfaceKind::kSaverLayer && !layerShell) {
    std::fprintf(stderr, HaveSaverLayer()
                             ? "glymmer: this compositor offers no layer shell "
                               "(wlr-layer-shell); use --fullscreen\n"
                             : "glymmer: this glymmer was built without the layer shell "
                               "(wlr-layer-shell); use --fullscreen\n");
    return false;
  }
  return true;
}

bool WaylandSystem::ClaimSaver() {
  if (saverLock >= 0) return true;
  // One lock file per compositor, in the session's runtime folder: a second
  // saver would only double the work under the first.
  const char* folder = std::getenv("XDG_RUNTIME_DIR");
  const std::string name = DisplayLockName(DisplayBackend::kWayland);
  std::string path =
      std::string(folder && *folder ? folder : "/tmp") + "/glymmer-saver-" + name + ".lock";
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return true;  // no place for a lock: nothing to refuse on
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    std::fprintf(stderr, "glymmer: a saver already runs on %s\n", name.c_str());
    return false;
  }
  saverLock = fd;
  return true;
}

void SayConnectionLost(wl_display* display) {
  int error = display ? wl_display_get_error(display) : 0;
  if (error == EPROTO) {
    const wl_interface* interface = nullptr;
    uint32_t id = 0;
    uint32_t code = wl_display_get_protocol_error(display, &interface, &id);
    std::fprintf(stderr, "glymmer: the Wayland compositor ended the connection (error %u on %s)\n",
                 code, interface ? interface->name : "?");
  } else {
    std::fprintf(stderr, "glymmer: the Wayland compositor went away\n");
  }
}

void WaylandSystem::Lose() {
  if (lost) return;
  lost = true;
  SayConnectionLost(display);
  WindowEvent e;
  e.kind = WindowEvent::kLost;
  events.push_back(e);
}

// Reads and dispatches what the compositor sent, waiting up to `timeoutMs`
// for it. False when a signal or the timeout ended the wait with nothing read.
bool WaylandSystem::Pump(int timeoutMs) {
  if (!display || lost) return false;
  // EGL reads the connection too, during swaps, and leaves what it read for
  // this queue (a frame callback, say): that is dispatched first, and the
  // wait ends at once, or the loop would sleep through a refresh.
  int queued = 0;
  while (wl_display_prepare_read(display) != 0) {
    int dispatched = wl_display_dispatch_pending(display);
    if (dispatched < 0) {
      Lose();
      return true;
    }
    queued += dispatched;
  }
  if (queued > 0) timeoutMs = 0;
  if (wl_display_flush(display) < 0 && errno != EAGAIN) {
    wl_display_cancel_read(display);
    Lose();
    return true;
  }
  pollfd p{wl_display_get_fd(display), POLLIN, 0};
  timespec timeout{timeoutMs / 1000, static_cast<long>(timeoutMs % 1000) * 1000000L};
  int ready = ppoll(&p, 1, &timeout, nullptr);
  if (ready <= 0) {
    wl_display_cancel_read(display);
    return queued > 0;
  }
  if (wl_display_read_events(display) < 0 || wl_display_dispatch_pending(display) < 0) {
    Lose();
    return true;
  }
  DispatchDecor();
  return true;
}

void WaylandSystem::Flush() {
  if (display && !lost && wl_display_flush(display) < 0 && errno != EAGAIN) Lose();
}

bool WaylandSystem::WaitForEvents(double seconds) {
  if (!events.empty()) return true;
  if (!display || lost) return false;
  if (!(seconds > 0)) seconds = 0;
  if (seconds > 3600) seconds = 3600;
  Pump(static_cast<int>(seconds * 1000));
  return !events.empty();
}

bool WaylandSystem::NextEvent(WindowEvent* event) {
  if (events.empty() && display && !lost) Pump(0);
  if (events.empty()) return false;
  *event = events.front();
  events.pop_front();
  return true;
}

}  // namespace wayland

std::unique_ptr<DisplaySystem> MakeWaylandSystem() {
  return std::unique_ptr<DisplaySystem>(new wayland::WaylandSystem);
}
