// WaylandSystem: the display system on a Wayland compositor. Outputs are the
// compositor's wl_outputs (named and placed through xdg-output); windows are
// xdg-shell toplevels, full screen is a fullscreen toplevel per output, and
// the saver is a layer-shell surface on the overlay layer of each output.
// Views draw into the surfaces through EGL's Wayland platform, in device
// pixels: a surface that covers an output draws the output's own mode, a
// window the compositor's preferred (fractional) scale, and the viewport maps
// the buffer onto the logical size; without a viewport the buffer scale
// follows the output's integer scale. Letters stay sharp on a HiDPI output.
//
// Its parts: Connection.cpp (globals, outputs, reading the connection),
// Input.cpp (the seat: keyboard and pointer), Surfaces.cpp (sizing, black,
// frame callbacks), Shells.cpp (xdg-shell toplevels, layer surfaces) and
// Decor.cpp (title bars drawn by libdecor where the compositor draws none).
#pragma once

#include "platform/DisplaySystem.h"
#include "platform/Screens.h"
#include "platform/dbus/DisplayPower.h"

#include <wayland-client.h>
#include <wayland-egl.h>

#include "fractional-scale-v1-client-protocol.h"
#include "presentation-time-client-protocol.h"
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

struct libdecor;
struct libdecor_frame;
#if !GLYMMER_HAVE_LAYER_SHELL
struct zwlr_layer_shell_v1;
struct zwlr_layer_surface_v1;
#endif

namespace wayland {

// How long a new surface may wait for the compositor's first configure.
constexpr int kConfigureTimeoutMs = 5000;

inline double Monotonic() {
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
  int refreshMilliHz = 0;  // the mode's refresh; 0 where the compositor does not say
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
  libdecor_frame* decorFrame = nullptr;  // a window that libdecor decorates: its toplevel
  wp_viewport* viewport = nullptr;
  wp_fractional_scale_v1* fractional = nullptr;
  wl_egl_window* eglWindow = nullptr;
  wl_buffer* black = nullptr;
  int blackWidth = 0, blackHeight = 0;      // its size in buffer pixels
  int width = 0, height = 0;                // logical size
  int pendingWidth = 0, pendingHeight = 0;  // from the toplevel's configure
  int scale = 1;              // the outputs' integer scale (the buffer scale without a viewport)
  int preferredScale = 0;     // the compositor's fractional scale in 120ths; 0: none said
  int reportedWidth = 0, reportedHeight = 0;  // drawable size the engine knows
  wl_callback* frame = nullptr;  // asked with the last commit; null once the compositor
                                 // wants the next frame
  bool configured = false;
  bool closed = false;  // the compositor took the surface away
  // The compositor's word on when frames are shown, asked for now and then:
  // the refresh of the output that showed the last one answered.
  struct wp_presentation_feedback* feedback = nullptr;  // "struct": a request shares the name
  double presentedRefresh = 0;  // seconds; 0 until said
  int framesUnasked = 0;        // frames committed since feedback was last asked for
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
  bool InPreviewPane(const NSWindow&) override { return false; }  // no foreign windows
  std::string Describe(const NSWindow& window) override;
  bool GrabInput(const NSWindow&) override { return true; }  // focus comes with the surface
  bool PointerPosition(int*, int*) override { return false; }
  void PaintBlack(const NSWindow& window) override;
  // mutter may go on asking for frames with its monitors off (headless
  // mutter 43 does).
  bool ScreenIsDark() override { return MonitorsAsleep(); }
  double RefreshInterval(const NSWindow& window) override;
  bool PacesFrames(const NSWindow&) override { return true; }
  bool MayWaitForRefresh(const NSWindow&) override { return false; }
  bool WantsFrame(const NSWindow& window) override;
  void TickEnded(const NSWindow& window, bool presented) override;
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
  // `entered`: the pointer came into the surface rather than moved in it.
  void PointerAt(Surface* s, wl_fixed_t x, wl_fixed_t y, bool entered);
  void Seat(uint32_t capabilities);
  void Presented(Surface* s, uint32_t refreshNs);

  wl_display* display = nullptr;
  wl_pointer* pointer = nullptr;
  Surface* keyboardFocus = nullptr;
  Surface* pointerFocus = nullptr;
  // The outputs changed since the pointer's last position: the next one is
  // no travel.
  bool outputsMoved = false;
  xdg_wm_base* wmBase = nullptr;

private:
  void WatchOutput(Output* o);
  void UpdateScreens();
  Output* MainOutput();
  bool Pump(int timeoutMs);
  void Lose();
  void DestroySurface(Surface* s);
  void ApplySize(Surface* s);
  void BufferSize(Surface* s, int* width, int* height);
  bool MakeBlackBuffer(Surface* s);
  // Decor.cpp: a window's toplevel made by libdecor, with its title bar and
  // close button; false when libdecor cannot (the caller makes a plain one).
  bool Decorate(Surface* s, const char* title);
  void Undecorate(Surface* s);
  void DispatchDecor();
  void EndDecor();

  DisplaySettings settings;
  wl_registry* registry = nullptr;
  wl_compositor* compositor = nullptr;
  wl_shm* shm = nullptr;
  wl_seat* seat = nullptr;
  wl_keyboard* keyboard = nullptr;
  zxdg_decoration_manager_v1* decorations = nullptr;
  zxdg_output_manager_v1* outputManager = nullptr;
  wp_viewporter* viewporter = nullptr;
  wp_fractional_scale_manager_v1* fractionalScales = nullptr;
  wp_presentation* presentation = nullptr;
  zwlr_layer_shell_v1* layerShell = nullptr;
  libdecor* decor = nullptr;  // made with the first window that needs a frame
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

// Listeners one part sets and another part's objects carry.
const wl_surface_listener* SurfaceListener();
const wp_fractional_scale_v1_listener* FractionalScaleListener();
const wl_seat_listener* SeatListener();

}  // namespace wayland
