// WaylandSystem: the display system on a Wayland compositor. Outputs are the
// compositor's wl_outputs (named and placed through xdg-output); windows are
// xdg-shell toplevels, full screen is a fullscreen toplevel per output, and
// the saver is a layer-shell surface on the overlay layer of each output.
// Views draw into the surfaces through EGL's Wayland platform, in device
// pixels: the buffer scale follows the output's scale, so letters stay sharp
// on a HiDPI output.
//
// Sections: Listeners (what the compositor tells), Connection (globals,
// outputs, the seat), Surfaces (making, sizing, black, frame callbacks),
// Events (reading the connection, the engine's queue).

#include "platform/DisplaySystem.h"
#include "platform/Screens.h"

#include <wayland-client.h>
#include <wayland-egl.h>

#include "viewporter-client-protocol.h"
#include "xdg-decoration-unstable-v1-client-protocol.h"
#include "xdg-output-unstable-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"
#if GLYMMER_HAVE_LAYER_SHELL
// The protocol names an argument "namespace", a C++ keyword.
#define namespace name_space
#include "wlr-layer-shell-unstable-v1-client-protocol.h"
#undef namespace
#endif

#include <linux/input-event-codes.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>

#if !GLYMMER_HAVE_LAYER_SHELL
struct zwlr_layer_shell_v1;
struct zwlr_layer_surface_v1;
#endif

namespace {

// How long a new surface may wait for the compositor's first configure.
constexpr int kConfigureTimeoutMs = 5000;
// A surface whose last frame has not been shown after this long is hidden.
constexpr double kHiddenAfter = 0.5;

double Monotonic() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

class WaylandSystem;

struct Output {
  WaylandSystem* system = nullptr;
  uint32_t global = 0;  // the registry's name for it, and our id
  wl_output* output = nullptr;
  zxdg_output_v1* xdg = nullptr;
  std::string name;
  int geometryX = 0, geometryY = 0, transform = 0;
  int modeWidth = 0, modeHeight = 0;
  int logicalX = 0, logicalY = 0, logicalWidth = 0, logicalHeight = 0;
  bool hasLogical = false;
  int scale = 1;
  bool done = false;       // the first burst of its description has come
  bool announced = false;  // it is in the screens list
  int32_t number = 0;      // its screen's number, in the order of announcement

  int X() const { return hasLogical ? logicalX : geometryX; }
  int Y() const { return hasLogical ? logicalY : geometryY; }
  // Size in device pixels, as the output shows it (turned a quarter for
  // transforms 90 and 270).
  int PixelWidth() const { return transform & 1 ? modeHeight : modeWidth; }
  int PixelHeight() const { return transform & 1 ? modeWidth : modeHeight; }
  // Size in logical units.
  int LogicalWidth() const { return hasLogical ? logicalWidth : PixelWidth() / std::max(1, scale); }
  int LogicalHeight() const {
    return hasLogical ? logicalHeight : PixelHeight() / std::max(1, scale);
  }
};

struct Surface {
  WaylandSystem* system = nullptr;
  unsigned long id = 0;
  SurfaceKind kind = SurfaceKind::kWindow;
  uint32_t output = 0;  // full screen and saver: the output it covers
  wl_surface* surface = nullptr;
  xdg_surface* xdgSurface = nullptr;
  xdg_toplevel* toplevel = nullptr;
  zxdg_toplevel_decoration_v1* decoration = nullptr;
  zwlr_layer_surface_v1* layer = nullptr;
  wp_viewport* viewport = nullptr;
  wl_egl_window* eglWindow = nullptr;
  wl_buffer* black = nullptr;
  int width = 0, height = 0;                // logical size
  int pendingWidth = 0, pendingHeight = 0;  // from the toplevel's configure
  int scale = 1;
  int reportedWidth = 0, reportedHeight = 0;  // drawable size the engine knows
  wl_callback* frame = nullptr;  // asked for the next or last frame; done once it was shown
  bool frameSent = false;        // the frame it was asked with has been presented
  double frameSentAt = 0;        // when (monotonic seconds)
  bool hidden = false;
  bool configured = false;
  std::vector<uint32_t> entered;  // outputs the surface is shown on

  bool Covers() const { return kind == SurfaceKind::kFullScreen || kind == SurfaceKind::kSaverLayer; }
};

class WaylandSystem : public DisplaySystem {
public:
  ~WaylandSystem() override { Disconnect(); }

  const char* Name() const override { return "Wayland"; }
  bool Connect(const DisplaySettings& settings) override;
  void Disconnect() override;
  std::vector<DisplayOutput> Outputs() override;
  NSSize DesktopSize() override;
  bool ReportsOutputChanges() const override { return true; }
  bool Supports(SurfaceKind kind) override;
  bool ClaimSaver() override;
  bool OpenSurface(const SurfaceRequest& request, NSWindow* window, NSSize* size) override;
  void CloseSurface(NSWindow* window) override;
  bool SurfaceSize(const NSWindow& window, NSSize* size) override;
  bool InPreviewPane(const NSWindow&) override { return false; }  // no foreign windows
  std::string Describe(const NSWindow& window) override;
  bool GrabInput(const NSWindow&) override { return true; }  // focus comes with the surface
  bool PointerPosition(int*, int*) override { return false; }
  void PaintBlack(const NSWindow& window) override;
  bool WantsFrame(const NSWindow& window) override;
  void Presented(const NSWindow& window) override;
  void Flush() override;
  bool WaitForEvents(double seconds) override;
  bool NextEvent(WindowEvent* event) override;

  // Called from the listeners.
  void Global(wl_registry* registry, uint32_t name, const char* interface, uint32_t version);
  void GlobalRemoved(uint32_t name);
  void OutputDone(Output* output);
  void Configured(Surface* s, int width, int height);
  void Rescale(Surface* s);
  void Push(const WindowEvent& e) { events.push_back(e); }
  Surface* FindSurface(wl_surface* surface);
  Surface* FindSurface(unsigned long id);
  Output* FindOutput(uint32_t global);
  Output* FindOutput(wl_output* output);
  void PointerAt(Surface* s, wl_fixed_t x, wl_fixed_t y);
  void Seat(uint32_t capabilities);

  wl_display* display = nullptr;
  wl_pointer* pointer = nullptr;
  Surface* keyboardFocus = nullptr;
  Surface* pointerFocus = nullptr;
  xdg_wm_base* wmBase = nullptr;

private:
  void WatchOutput(Output* o);
  void UpdateScreens();
  Output* MainOutput();
  bool Pump(int timeoutMs);
  void Lose();
  void DestroySurface(Surface* s);
  void ApplySize(Surface* s);
  bool MakeBlackBuffer(Surface* s);

  DisplaySettings settings;
  wl_registry* registry = nullptr;
  wl_compositor* compositor = nullptr;
  wl_shm* shm = nullptr;
  wl_seat* seat = nullptr;
  wl_keyboard* keyboard = nullptr;
  zxdg_decoration_manager_v1* decorations = nullptr;
  zxdg_output_manager_v1* outputManager = nullptr;
  wp_viewporter* viewporter = nullptr;
  zwlr_layer_shell_v1* layerShell = nullptr;
  std::vector<std::unique_ptr<Output>> outputs;
  std::vector<std::unique_ptr<Surface>> surfaces;
  std::deque<WindowEvent> events;
  std::string mainName;  // the main output last said, for --verbose
  int32_t nextNumber = 1;
  unsigned long nextSurfaceId = 1;
  bool ready = false;  // the first description of every output has come
  bool lost = false;
  int saverLock = -1;  // the lock file held by ClaimSaver
};

// ---- Listeners -------------------------------------------------------------

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
    l.mode = [](void* data, wl_output*, uint32_t flags, int32_t width, int32_t height, int32_t) {
      Output* o = static_cast<Output*>(data);
      if (!(flags & WL_OUTPUT_MODE_CURRENT)) return;
      o->modeWidth = width;
      o->modeHeight = height;
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

const wl_surface_listener* SurfaceListener() {
  static const wl_surface_listener listener = [] {
    wl_surface_listener l{};
    l.enter = [](void* data, wl_surface*, wl_output* output) {
      Surface* s = static_cast<Surface*>(data);
      Output* o = s->system->FindOutput(output);
      if (!o) return;
      s->entered.push_back(o->global);
      s->system->Rescale(s);
    };
    l.leave = [](void* data, wl_surface*, wl_output* output) {
      Surface* s = static_cast<Surface*>(data);
      Output* o = s->system->FindOutput(output);
      if (!o) return;
      s->entered.erase(std::remove(s->entered.begin(), s->entered.end(), o->global),
                       s->entered.end());
      s->system->Rescale(s);
    };
    return l;
  }();
  return &listener;
}

const wl_callback_listener kFrameListener = {[](void* data, wl_callback* callback, uint32_t) {
  Surface* s = static_cast<Surface*>(data);
  wl_callback_destroy(callback);
  s->frame = nullptr;
  s->hidden = false;
}};

const xdg_surface_listener kXdgSurfaceListener = {
    [](void* data, xdg_surface* xdgSurface, uint32_t serial) {
      Surface* s = static_cast<Surface*>(data);
      xdg_surface_ack_configure(xdgSurface, serial);
      s->system->Configured(s, s->pendingWidth, s->pendingHeight);
    }};

const xdg_toplevel_listener* ToplevelListener() {
  static const xdg_toplevel_listener listener = [] {
    xdg_toplevel_listener l{};
    l.configure = [](void* data, xdg_toplevel*, int32_t width, int32_t height, wl_array*) {
      Surface* s = static_cast<Surface*>(data);
      s->pendingWidth = width;
      s->pendingHeight = height;
    };
    l.close = [](void* data, xdg_toplevel*) {
      Surface* s = static_cast<Surface*>(data);
      WindowEvent e;
      e.kind = WindowEvent::kClose;
      e.window = s->id;
      s->system->Push(e);
    };
    return l;
  }();
  return &listener;
}

const zxdg_toplevel_decoration_v1_listener kDecorationListener = {
    [](void*, zxdg_toplevel_decoration_v1*, uint32_t) {}};

#if GLYMMER_HAVE_LAYER_SHELL
const zwlr_layer_surface_v1_listener kLayerListener = {
    [](void* data, zwlr_layer_surface_v1* layer, uint32_t serial, uint32_t width,
       uint32_t height) {
      Surface* s = static_cast<Surface*>(data);
      zwlr_layer_surface_v1_ack_configure(layer, serial);
      s->system->Configured(s, static_cast<int>(width), static_cast<int>(height));
    },
    [](void* data, zwlr_layer_surface_v1*) {
      // The compositor took the surface away (its output went, or was turned
      // off): the view in it must go.
      Surface* s = static_cast<Surface*>(data);
      WindowEvent e;
      e.kind = WindowEvent::kDestroyed;
      e.window = s->id;
      s->system->Push(e);
    }};
#endif

const wl_keyboard_listener* KeyboardListener() {
  static const wl_keyboard_listener listener = [] {
    wl_keyboard_listener l{};
    l.keymap = [](void*, wl_keyboard*, uint32_t, int32_t fd, uint32_t) { close(fd); };
    // Keys already down when the focus comes are not new input.
    l.enter = [](void* data, wl_keyboard*, uint32_t, wl_surface* surface, wl_array*) {
      WaylandSystem* w = static_cast<WaylandSystem*>(data);
      w->keyboardFocus = w->FindSurface(surface);
    };
    l.leave = [](void* data, wl_keyboard*, uint32_t, wl_surface*) {
      static_cast<WaylandSystem*>(data)->keyboardFocus = nullptr;
    };
    l.key = [](void* data, wl_keyboard*, uint32_t, uint32_t, uint32_t key, uint32_t state) {
      WaylandSystem* w = static_cast<WaylandSystem*>(data);
      if (state != WL_KEYBOARD_KEY_STATE_PRESSED) return;
      WindowEvent e;
      e.kind = WindowEvent::kKey;
      e.window = w->keyboardFocus ? w->keyboardFocus->id : 0;
      e.escape = key == KEY_ESC;
      w->Push(e);
    };
    l.modifiers = [](void*, wl_keyboard*, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) {};
    l.repeat_info = [](void*, wl_keyboard*, int32_t, int32_t) {};
    return l;
  }();
  return &listener;
}

const wl_pointer_listener* PointerListener() {
  static const wl_pointer_listener listener = [] {
    wl_pointer_listener l{};
    l.enter = [](void* data, wl_pointer* pointer, uint32_t serial, wl_surface* surface,
                 wl_fixed_t x, wl_fixed_t y) {
      WaylandSystem* w = static_cast<WaylandSystem*>(data);
      w->pointerFocus = w->FindSurface(surface);
      // No pointer over a screen-covering surface, as a saver should be.
      if (w->pointerFocus && w->pointerFocus->Covers())
        wl_pointer_set_cursor(pointer, serial, nullptr, 0, 0);
      w->PointerAt(w->pointerFocus, x, y);
    };
    l.leave = [](void* data, wl_pointer*, uint32_t, wl_surface*) {
      static_cast<WaylandSystem*>(data)->pointerFocus = nullptr;
    };
    l.motion = [](void* data, wl_pointer*, uint32_t, wl_fixed_t x, wl_fixed_t y) {
      WaylandSystem* w = static_cast<WaylandSystem*>(data);
      w->PointerAt(w->pointerFocus, x, y);
    };
    l.button = [](void* data, wl_pointer*, uint32_t, uint32_t, uint32_t, uint32_t state) {
      WaylandSystem* w = static_cast<WaylandSystem*>(data);
      if (state != WL_POINTER_BUTTON_STATE_PRESSED) return;
      WindowEvent e;
      e.kind = WindowEvent::kButton;
      e.window = w->pointerFocus ? w->pointerFocus->id : 0;
      w->Push(e);
    };
    // A turned wheel is input as a click is.
    l.axis = [](void* data, wl_pointer*, uint32_t, uint32_t, wl_fixed_t) {
      WaylandSystem* w = static_cast<WaylandSystem*>(data);
      WindowEvent e;
      e.kind = WindowEvent::kButton;
      e.window = w->pointerFocus ? w->pointerFocus->id : 0;
      w->Push(e);
    };
    l.frame = [](void*, wl_pointer*) {};
    l.axis_source = [](void*, wl_pointer*, uint32_t) {};
    l.axis_stop = [](void*, wl_pointer*, uint32_t, uint32_t) {};
    l.axis_discrete = [](void*, wl_pointer*, uint32_t, int32_t) {};
    return l;
  }();
  return &listener;
}

const wl_seat_listener kSeatListener = {
    [](void* data, wl_seat*, uint32_t capabilities) {
      static_cast<WaylandSystem*>(data)->Seat(capabilities);
    },
    [](void*, wl_seat*, const char*) {}};

// ---- Connection --------------------------------------------------------------

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
#if GLYMMER_HAVE_LAYER_SHELL
  } else if (i == zwlr_layer_shell_v1_interface.name) {
    layerShell = Bind<zwlr_layer_shell_v1>(r, name, &zwlr_layer_shell_v1_interface, version, 3);
#endif
  } else if (i == wl_seat_interface.name && !seat) {
    seat = Bind<wl_seat>(r, name, &wl_seat_interface, version, 5);
    wl_seat_add_listener(seat, &kSeatListener, this);
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

void WaylandSystem::Seat(uint32_t capabilities) {
  bool hasKeyboard = capabilities & WL_SEAT_CAPABILITY_KEYBOARD;
  bool hasPointer = capabilities & WL_SEAT_CAPABILITY_POINTER;
  if (hasKeyboard && !keyboard) {
    keyboard = wl_seat_get_keyboard(seat);
    wl_keyboard_add_listener(keyboard, KeyboardListener(), this);
  } else if (!hasKeyboard && keyboard) {
    wl_keyboard_destroy(keyboard);
    keyboard = nullptr;
    keyboardFocus = nullptr;
  }
  if (hasPointer && !pointer) {
    pointer = wl_seat_get_pointer(seat);
    wl_pointer_add_listener(pointer, PointerListener(), this);
  } else if (!hasPointer && pointer) {
    wl_pointer_destroy(pointer);
    pointer = nullptr;
    pointerFocus = nullptr;
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
  if (seat) wl_seat_destroy(seat);
  if (decorations) zxdg_decoration_manager_v1_destroy(decorations);
  if (outputManager) zxdg_output_manager_v1_destroy(outputManager);
  if (viewporter) wp_viewporter_destroy(viewporter);
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
  const char* name = std::getenv("WAYLAND_DISPLAY");
  std::string path = std::string(folder && *folder ? folder : "/tmp") + "/glymmer-saver-" +
                     (name && *name && !std::strchr(name, '/') ? name : "wayland-0") + ".lock";
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return true;  // no place for a lock: nothing to refuse on
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    std::fprintf(stderr, "glymmer: a saver already runs on %s\n", name ? name : "wayland-0");
    return false;
  }
  saverLock = fd;
  return true;
}

// ---- Surfaces ----------------------------------------------------------------

Surface* WaylandSystem::FindSurface(wl_surface* surface) {
  for (auto& s : surfaces)
    if (surface && s->surface == surface) return s.get();
  return nullptr;
}

Surface* WaylandSystem::FindSurface(unsigned long id) {
  for (auto& s : surfaces)
    if (s->id == id) return s.get();
  return nullptr;
}

Output* WaylandSystem::FindOutput(uint32_t global) {
  for (auto& o : outputs)
    if (o->global == global) return o.get();
  return nullptr;
}

Output* WaylandSystem::FindOutput(wl_output* output) {
  for (auto& o : outputs)
    if (o->output == output) return o.get();
  return nullptr;
}

void WaylandSystem::PointerAt(Surface* s, wl_fixed_t x, wl_fixed_t y) {
  // Desktop coordinates, so that crossing from one output's surface to
  // another's is no travel by itself.
  WindowEvent e;
  e.kind = WindowEvent::kMotion;
  e.window = s ? s->id : 0;
  e.rootX = wl_fixed_to_int(x);
  e.rootY = wl_fixed_to_int(y);
  if (s && s->Covers())
    if (Output* o = FindOutput(s->output)) {
      e.rootX += o->X();
      e.rootY += o->Y();
    }
  Push(e);
}

void WaylandSystem::Configured(Surface* s, int width, int height) {
  if (width > 0 && height > 0) {
    s->width = width;
    s->height = height;
  }
  s->configured = true;
  ApplySize(s);
}

void WaylandSystem::Rescale(Surface* s) {
  int scale = 0;
  if (s->Covers()) {
    if (Output* o = FindOutput(s->output)) scale = o->scale;
  } else {
    for (uint32_t global : s->entered)
      if (Output* o = FindOutput(global)) scale = std::max(scale, o->scale);
  }
  if (scale < 1 || scale == s->scale) return;
  s->scale = scale;
  ApplySize(s);
}

void WaylandSystem::ApplySize(Surface* s) {
  if (!s->eglWindow || s->width < 1 || s->height < 1) return;
  // The buffer is in device pixels, a whole multiple of the logical size, so
  // the scale always divides it.
  int pixelWidth = s->width * s->scale, pixelHeight = s->height * s->scale;
  wl_egl_window_resize(s->eglWindow, pixelWidth, pixelHeight, 0, 0);
  if (s->viewport)
    wp_viewport_set_destination(s->viewport, s->width, s->height);
  else
    wl_surface_set_buffer_scale(s->surface, s->scale);
  wl_region* opaque = wl_compositor_create_region(compositor);
  wl_region_add(opaque, 0, 0, s->width, s->height);
  wl_surface_set_opaque_region(s->surface, opaque);
  wl_region_destroy(opaque);
  if (pixelWidth == s->reportedWidth && pixelHeight == s->reportedHeight) return;
  s->reportedWidth = pixelWidth;
  s->reportedHeight = pixelHeight;
  WindowEvent e;
  e.kind = WindowEvent::kResize;
  e.window = s->id;
  e.width = pixelWidth;
  e.height = pixelHeight;
  Push(e);
}

bool WaylandSystem::OpenSurface(const SurfaceRequest& request, NSWindow* window, NSSize* size) {
  if (!display || lost || !Supports(request.kind)) return false;
  Output* output = nullptr;
  if (request.kind != SurfaceKind::kWindow) {
    output = FindOutput(request.output);
    if (!output || !output->announced) {
      std::fprintf(stderr, "glymmer: output %u is gone\n", request.output);
      return false;
    }
  }
  std::unique_ptr<Surface> owned(new Surface);
  Surface* s = owned.get();
  s->system = this;
  s->id = nextSurfaceId++;
  s->kind = request.kind;
  s->surface = wl_compositor_create_surface(compositor);
  wl_surface_add_listener(s->surface, SurfaceListener(), s);
  surfaces.push_back(std::move(owned));
  // A viewport maps the buffer onto the logical size whatever the scale; a
  // plain buffer scale does where there is none.
  if (viewporter) s->viewport = wp_viewporter_get_viewport(viewporter, s->surface);

  if (output) {
    s->output = output->global;
    s->scale = output->scale;
    s->width = output->LogicalWidth();
    s->height = output->LogicalHeight();
  } else {
    Output* main = MainOutput();
    s->scale = main ? main->scale : 1;
    s->width = std::max(1, static_cast<int>(request.rect.size.width));
    s->height = std::max(1, static_cast<int>(request.rect.size.height));
  }

  if (request.kind == SurfaceKind::kSaverLayer) {
#if GLYMMER_HAVE_LAYER_SHELL
    s->layer = zwlr_layer_shell_v1_get_layer_surface(
        layerShell, s->surface, output->output, ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, "glymmer");
    zwlr_layer_surface_v1_add_listener(s->layer, &kLayerListener, s);
    zwlr_layer_surface_v1_set_size(s->layer, 0, 0);
    zwlr_layer_surface_v1_set_anchor(
        s->layer, ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM |
                      ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT | ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT);
    // Over panels too: no other surface's exclusive zone moves it.
    zwlr_layer_surface_v1_set_exclusive_zone(s->layer, -1);
    zwlr_layer_surface_v1_set_keyboard_interactivity(s->layer, 1);
#endif
  } else {
    s->xdgSurface = xdg_wm_base_get_xdg_surface(wmBase, s->surface);
    xdg_surface_add_listener(s->xdgSurface, &kXdgSurfaceListener, s);
    s->toplevel = xdg_surface_get_toplevel(s->xdgSurface);
    xdg_toplevel_add_listener(s->toplevel, ToplevelListener(), s);
    xdg_toplevel_set_title(s->toplevel, request.title ? request.title : "Glymmer");
    xdg_toplevel_set_app_id(s->toplevel, "glymmer");
    if (decorations && request.kind == SurfaceKind::kWindow) {
      s->decoration = zxdg_decoration_manager_v1_get_toplevel_decoration(decorations, s->toplevel);
      zxdg_toplevel_decoration_v1_add_listener(s->decoration, &kDecorationListener, s);
      zxdg_toplevel_decoration_v1_set_mode(s->decoration,
                                           ZXDG_TOPLEVEL_DECORATION_V1_MODE_SERVER_SIDE);
    }
    if (output) xdg_toplevel_set_fullscreen(s->toplevel, output->output);
  }
  wl_surface_commit(s->surface);

  // No buffer may be attached before the first configure.
  timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  while (!s->configured && !lost) {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    long waited = (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
    if (waited >= kConfigureTimeoutMs) break;
    Pump(static_cast<int>(kConfigureTimeoutMs - waited));
  }
  if (!s->configured) {
    if (!lost) std::fprintf(stderr, "glymmer: the Wayland compositor did not configure the surface\n");
    DestroySurface(s);
    return false;
  }
  s->eglWindow = wl_egl_window_create(s->surface, s->width * s->scale, s->height * s->scale);
  if (!s->eglWindow) {
    std::fprintf(stderr, "glymmer: cannot make an EGL window for the Wayland surface\n");
    DestroySurface(s);
    return false;
  }
  s->reportedWidth = s->reportedHeight = 0;
  ApplySize(s);
  // The engine starts from this size; the resize just queued says the same.
  events.erase(std::remove_if(events.begin(), events.end(),
                              [s](const WindowEvent& e) {
                                return e.kind == WindowEvent::kResize && e.window == s->id;
                              }),
               events.end());

  window->nativeDisplay = display;
  window->nativeWindow = s->id;
  window->nativeSurface = s->eglWindow;
  window->nativeVisual = 0;
  window->screenOfWindow = nullptr;
  if (output)
    for (int i = 0; i < ScreenCount(); ++i)
      if (ScreenAt(i)->number == output->number) window->screenOfWindow = ScreenAt(i);
  size->width = s->reportedWidth;
  size->height = s->reportedHeight;
  return true;
}

void WaylandSystem::DestroySurface(Surface* s) {
  if (keyboardFocus == s) keyboardFocus = nullptr;
  if (pointerFocus == s) pointerFocus = nullptr;
  if (s->frame) wl_callback_destroy(s->frame);
  if (s->eglWindow) wl_egl_window_destroy(s->eglWindow);
  if (s->viewport) wp_viewport_destroy(s->viewport);
  if (s->decoration) zxdg_toplevel_decoration_v1_destroy(s->decoration);
  if (s->toplevel) xdg_toplevel_destroy(s->toplevel);
  if (s->xdgSurface) xdg_surface_destroy(s->xdgSurface);
#if GLYMMER_HAVE_LAYER_SHELL
  if (s->layer) zwlr_layer_surface_v1_destroy(s->layer);
#endif
  if (s->surface) wl_surface_destroy(s->surface);
  if (s->black) wl_buffer_destroy(s->black);
  unsigned long id = s->id;
  events.erase(std::remove_if(events.begin(), events.end(),
                              [id](const WindowEvent& e) {
                                return e.window == id && e.kind != WindowEvent::kOutputAdded &&
                                       e.kind != WindowEvent::kOutputRemoved;
                              }),
               events.end());
  for (size_t i = 0; i < surfaces.size(); ++i)
    if (surfaces[i].get() == s) {
      surfaces.erase(surfaces.begin() + static_cast<long>(i));
      break;
    }
}

void WaylandSystem::CloseSurface(NSWindow* window) {
  if (Surface* s = FindSurface(window->nativeWindow)) DestroySurface(s);
  if (display && !lost) wl_display_flush(display);
  window->nativeDisplay = nullptr;
  window->nativeWindow = 0;
  window->nativeSurface = nullptr;
}

bool WaylandSystem::SurfaceSize(const NSWindow& window, NSSize* size) {
  Surface* s = FindSurface(window.nativeWindow);
  if (!s) return false;
  size->width = s->width * s->scale;
  size->height = s->height * s->scale;
  return true;
}

std::string WaylandSystem::Describe(const NSWindow& window) {
  std::string text = "surface " + std::to_string(window.nativeWindow);
  Surface* s = FindSurface(window.nativeWindow);
  if (s && s->Covers())
    if (Output* o = FindOutput(s->output)) text += " on output " + (o->name.empty() ? "?" : o->name);
  if (s && s->scale > 1) text += ", scale " + std::to_string(s->scale);
  return text;
}

bool WaylandSystem::MakeBlackBuffer(Surface* s) {
  if (s->black) return true;
  if (!shm) return false;
  // One black pixel, stretched by the viewport; a whole logical-size buffer
  // where there is no viewport.
  int width = s->viewport ? 1 : s->width, height = s->viewport ? 1 : s->height;
  size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 4;
  int fd = memfd_create("glymmer-black", MFD_CLOEXEC);
  if (fd < 0) return false;
  // A fresh file reads as zeros: black, and XRGB ignores the fourth byte.
  if (ftruncate(fd, static_cast<off_t>(bytes)) != 0) {
    close(fd);
    return false;
  }
  wl_shm_pool* pool = wl_shm_create_pool(shm, fd, static_cast<int32_t>(bytes));
  s->black = wl_shm_pool_create_buffer(pool, 0, width, height, width * 4, WL_SHM_FORMAT_XRGB8888);
  wl_shm_pool_destroy(pool);
  close(fd);
  return s->black != nullptr;
}

void WaylandSystem::PaintBlack(const NSWindow& window) {
  Surface* s = FindSurface(window.nativeWindow);
  if (!s || lost || !MakeBlackBuffer(s)) return;
  if (s->viewport) wp_viewport_set_destination(s->viewport, s->width, s->height);
  wl_surface_set_buffer_scale(s->surface, 1);
  wl_surface_attach(s->surface, s->black, 0, 0);
  wl_surface_damage(s->surface, 0, 0, INT32_MAX, INT32_MAX);
  wl_surface_commit(s->surface);
  wl_display_flush(display);
}

bool WaylandSystem::WantsFrame(const NSWindow& window) {
  Surface* s = FindSurface(window.nativeWindow);
  if (!s || lost) return true;
  if (s->frame) {
    // The compositor answers a frame's callback once it has shown that
    // frame, and never while the surface is hidden. Swaps do not wait for it
    // (they would block the loop forever), so this is where a hidden
    // surface stops costing frames; its callback still comes when it is
    // shown again.
    if (s->frameSent && !s->hidden && Monotonic() - s->frameSentAt > kHiddenAfter) s->hidden = true;
    return !s->hidden;
  }
  // Asked now, sent with the frame the view presents next.
  s->frame = wl_surface_frame(s->surface);
  wl_callback_add_listener(s->frame, &kFrameListener, s);
  s->frameSent = false;
  return true;
}

void WaylandSystem::Presented(const NSWindow& window) {
  Surface* s = FindSurface(window.nativeWindow);
  if (!s || !s->frame || s->frameSent) return;
  s->frameSent = true;
  s->frameSentAt = Monotonic();
}

// ---- Events ------------------------------------------------------------------

void WaylandSystem::Lose() {
  if (lost) return;
  lost = true;
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
  WindowEvent e;
  e.kind = WindowEvent::kLost;
  events.push_back(e);
}

// Reads and dispatches what the compositor sent, waiting up to `timeoutMs`
// for it. False when a signal or the timeout ended the wait with nothing read.
bool WaylandSystem::Pump(int timeoutMs) {
  if (!display || lost) return false;
  while (wl_display_prepare_read(display) != 0) {
    if (wl_display_dispatch_pending(display) < 0) {
      Lose();
      return true;
    }
  }
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
    return false;
  }
  if (wl_display_read_events(display) < 0 || wl_display_dispatch_pending(display) < 0) {
    Lose();
    return true;
  }
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

}  // namespace

std::unique_ptr<DisplaySystem> MakeWaylandSystem() {
  return std::unique_ptr<DisplaySystem>(new WaylandSystem);
}
