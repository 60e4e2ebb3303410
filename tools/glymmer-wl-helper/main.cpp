// glymmer-wl-helper: what the Wayland checks need of a user at a compositor.
//
//   glymmer-wl-helper pointer DX DY [click]   moves the pointer by (DX, DY)
//                                              through a virtual pointer
//                                              (and clicks)
//   glymmer-wl-helper mouse                    holds a virtual pointer until
//                                              SIGTERM: a mouse that stays
//                                              plugged in
//   glymmer-wl-helper key                     presses and releases a key
//                                              (KWin's fake input)
//   glymmer-wl-helper window RRGGBB [inhibit|paced]
//                                              shows an ordinary window of
//                                              one colour until SIGTERM;
//                                              with inhibit, it holds an
//                                              idle inhibitor, as a video
//                                              player does; paced, it commits
//                                              it again at every frame
//                                              callback, as a client in step
//                                              with the display does
//
// The pointer is wlroots' virtual pointer where the compositor offers it,
// else KWin's fake input (which KWin offers to every client when run with
// KWIN_WAYLAND_NO_PERMISSION_CHECKS=1).
//
// Exit status 1 when the compositor lacks what is needed, 2 for a bad line.

#include <wayland-client.h>

#include "fake-input-client-protocol.h"
#include "idle-inhibit-unstable-v1-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"

#include <linux/input-event-codes.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <string>

namespace {

struct Globals {
  wl_compositor* compositor = nullptr;
  wl_shm* shm = nullptr;
  wl_seat* seat = nullptr;
  xdg_wm_base* wmBase = nullptr;
  zwlr_virtual_pointer_manager_v1* pointers = nullptr;
  org_kde_kwin_fake_input* fake = nullptr;
  zwp_idle_inhibit_manager_v1* inhibitors = nullptr;
};

void OnGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface,
              uint32_t version) {
  Globals* g = static_cast<Globals*>(data);
  std::string i = interface;
  if (i == wl_compositor_interface.name)
    g->compositor = static_cast<wl_compositor*>(wl_registry_bind(registry, name, &wl_compositor_interface, 1));
  else if (i == wl_shm_interface.name)
    g->shm = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
  else if (i == wl_seat_interface.name && !g->seat)
    g->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
  else if (i == xdg_wm_base_interface.name)
    g->wmBase = static_cast<xdg_wm_base*>(wl_registry_bind(registry, name, &xdg_wm_base_interface, 1));
  else if (i == zwlr_virtual_pointer_manager_v1_interface.name)
    g->pointers = static_cast<zwlr_virtual_pointer_manager_v1*>(
        wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1));
  else if (i == org_kde_kwin_fake_input_interface.name)
    g->fake = static_cast<org_kde_kwin_fake_input*>(
        wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, std::min(version, 4u)));
  else if (i == zwp_idle_inhibit_manager_v1_interface.name)
    g->inhibitors = static_cast<zwp_idle_inhibit_manager_v1*>(
        wl_registry_bind(registry, name, &zwp_idle_inhibit_manager_v1_interface, 1));
}
void OnGlobalRemove(void*, wl_registry*, uint32_t) {}
const wl_registry_listener kRegistry = {OnGlobal, OnGlobalRemove};

// KWin's fake input: it counts only once the client has introduced itself.
bool FakeInput(wl_display* display, Globals& g) {
  if (!g.fake) return false;
  org_kde_kwin_fake_input_authenticate(g.fake, "glymmer-wl-helper", "Glymmer's checks");
  wl_display_roundtrip(display);
  return true;
}

int PressKey(wl_display* display, Globals& g) {
  if (!FakeInput(display, g) || wl_proxy_get_version(reinterpret_cast<wl_proxy*>(g.fake)) < 4) {
    std::fprintf(stderr, "glymmer-wl-helper: the compositor offers no fake keyboard\n");
    return 1;
  }
  org_kde_kwin_fake_input_keyboard_key(g.fake, KEY_LEFTSHIFT, WL_KEYBOARD_KEY_STATE_PRESSED);
  wl_display_roundtrip(display);
  usleep(50 * 1000);
  org_kde_kwin_fake_input_keyboard_key(g.fake, KEY_LEFTSHIFT, WL_KEYBOARD_KEY_STATE_RELEASED);
  wl_display_roundtrip(display);
  return 0;
}

int MovePointer(wl_display* display, Globals& g, int dx, int dy, bool click) {
  if (!g.pointers && FakeInput(display, g)) {
    for (int step = 1; step <= 4; ++step) {
      org_kde_kwin_fake_input_pointer_motion(g.fake, wl_fixed_from_int(dx) / 4,
                                             wl_fixed_from_int(dy) / 4);
      wl_display_roundtrip(display);
      usleep(20 * 1000);
    }
    if (click) {
      org_kde_kwin_fake_input_button(g.fake, BTN_LEFT, WL_POINTER_BUTTON_STATE_PRESSED);
      org_kde_kwin_fake_input_button(g.fake, BTN_LEFT, WL_POINTER_BUTTON_STATE_RELEASED);
    }
    wl_display_roundtrip(display);
    return 0;
  }
  if (!g.pointers) {
    std::fprintf(stderr, "glymmer-wl-helper: the compositor offers no virtual pointer\n");
    return 1;
  }
  zwlr_virtual_pointer_v1* p = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(g.pointers, g.seat);
  // A new pointer makes the seat announce one; clients take up the seat's
  // pointer only then, so the motion waits a moment, as a mouse just plugged
  // in would.
  wl_display_roundtrip(display);
  usleep(500 * 1000);
  // Several small steps, as a hand moves a mouse.
  for (int step = 1; step <= 4; ++step) {
    zwlr_virtual_pointer_v1_motion(p, static_cast<uint32_t>(step * 10), wl_fixed_from_int(dx) / 4,
                                   wl_fixed_from_int(dy) / 4);
    zwlr_virtual_pointer_v1_frame(p);
  }
  if (click) {
    zwlr_virtual_pointer_v1_button(p, 50, BTN_LEFT, WL_POINTER_BUTTON_STATE_PRESSED);
    zwlr_virtual_pointer_v1_frame(p);
    zwlr_virtual_pointer_v1_button(p, 60, BTN_LEFT, WL_POINTER_BUTTON_STATE_RELEASED);
    zwlr_virtual_pointer_v1_frame(p);
  }
  wl_display_roundtrip(display);
  zwlr_virtual_pointer_v1_destroy(p);
  wl_display_roundtrip(display);
  return 0;
}

volatile std::sig_atomic_t stop = 0;

// Serves the compositor until SIGTERM or SIGINT, or until it goes away.
// libwayland's own wait goes on through signals: this one looks at `stop`
// every 100 ms.
void WaitForStop(wl_display* display) {
  std::signal(SIGTERM, [](int) { stop = 1; });
  std::signal(SIGINT, [](int) { stop = 1; });
  while (!stop) {
    bool lost = false;
    while (!lost && wl_display_prepare_read(display) != 0)
      lost = wl_display_dispatch_pending(display) < 0;
    if (lost) break;
    wl_display_flush(display);
    pollfd p{wl_display_get_fd(display), POLLIN, 0};
    if (poll(&p, 1, 100) > 0) {
      if (wl_display_read_events(display) < 0) break;
    } else {
      wl_display_cancel_read(display);
    }
    if (wl_display_dispatch_pending(display) < 0) break;
  }
}

int HoldPointer(wl_display* display, Globals& g) {
  if (!g.pointers) {
    std::fprintf(stderr, "glymmer-wl-helper: the compositor offers no virtual pointer\n");
    return 1;
  }
  zwlr_virtual_pointer_v1* p = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(g.pointers, g.seat);
  WaitForStop(display);
  zwlr_virtual_pointer_v1_destroy(p);
  wl_display_roundtrip(display);
  return 0;
}

struct Window {
  Globals* g = nullptr;
  wl_surface* surface = nullptr;
  uint32_t colour = 0;
  int width = 200, height = 150;
  wl_buffer* buffer = nullptr;
  bool paced = false;
};

void Commit(Window* w, bool askFrame);

const wl_callback_listener kFrame = {[](void* data, wl_callback* callback, uint32_t) {
  wl_callback_destroy(callback);
  Commit(static_cast<Window*>(data), true);
}};

// Shows the buffer (again); with `askFrame`, asks to hear of the next
// refresh with it.
void Commit(Window* w, bool askFrame) {
  if (askFrame) wl_callback_add_listener(wl_surface_frame(w->surface), &kFrame, w);
  wl_surface_attach(w->surface, w->buffer, 0, 0);
  wl_surface_damage(w->surface, 0, 0, w->width, w->height);
  wl_surface_commit(w->surface);
}

void Paint(Window* w) {
  size_t bytes = static_cast<size_t>(w->width) * static_cast<size_t>(w->height) * 4;
  int fd = memfd_create("glymmer-wl-helper", MFD_CLOEXEC);
  if (fd < 0 || ftruncate(fd, static_cast<off_t>(bytes)) != 0) std::exit(1);
  void* map = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (map == MAP_FAILED) std::exit(1);
  uint32_t* pixels = static_cast<uint32_t*>(map);
  for (size_t i = 0; i < bytes / 4; ++i) pixels[i] = 0xFF000000u | w->colour;
  munmap(map, bytes);
  wl_shm_pool* pool = wl_shm_create_pool(w->g->shm, fd, static_cast<int32_t>(bytes));
  if (w->buffer) wl_buffer_destroy(w->buffer);
  wl_buffer* buffer = wl_shm_pool_create_buffer(pool, 0, w->width, w->height, w->width * 4,
                                                WL_SHM_FORMAT_XRGB8888);
  wl_shm_pool_destroy(pool);
  close(fd);
  // A paced window's frame callbacks keep it going once it has begun.
  bool first = !w->buffer;
  w->buffer = buffer;
  Commit(w, first && w->paced);
}

int ShowWindow(wl_display* display, Globals& g, uint32_t colour, bool inhibit, bool paced) {
  if (!g.wmBase || !g.shm || !g.compositor) return 1;
  if (inhibit && !g.inhibitors) {
    std::fprintf(stderr, "glymmer-wl-helper: the compositor offers no idle inhibitor\n");
    return 1;
  }
  static const xdg_wm_base_listener ping = {
      [](void*, xdg_wm_base* b, uint32_t serial) { xdg_wm_base_pong(b, serial); }};
  xdg_wm_base_add_listener(g.wmBase, &ping, nullptr);
  Window w;
  w.g = &g;
  w.colour = colour;
  w.paced = paced;
  w.surface = wl_compositor_create_surface(g.compositor);
  xdg_surface* xs = xdg_wm_base_get_xdg_surface(g.wmBase, w.surface);
  xdg_toplevel* top = xdg_surface_get_toplevel(xs);
  xdg_toplevel_set_title(top, "ordinary window");
  static const xdg_toplevel_listener topListener = [] {
    xdg_toplevel_listener l{};
    l.configure = [](void* data, xdg_toplevel*, int32_t width, int32_t height, wl_array*) {
      Window* w = static_cast<Window*>(data);
      if (width > 0 && height > 0) {
        w->width = width;
        w->height = height;
      }
    };
    l.close = [](void*, xdg_toplevel*) { stop = 1; };
    return l;
  }();
  xdg_toplevel_add_listener(top, &topListener, &w);
  static const xdg_surface_listener surfaceListener = {
      [](void* data, xdg_surface* xs, uint32_t serial) {
        xdg_surface_ack_configure(xs, serial);
        Paint(static_cast<Window*>(data));
      }};
  xdg_surface_add_listener(xs, &surfaceListener, &w);
  // The compositor honours it while the surface is visible.
  zwp_idle_inhibitor_v1* inhibitor =
      inhibit ? zwp_idle_inhibit_manager_v1_create_inhibitor(g.inhibitors, w.surface) : nullptr;
  wl_surface_commit(w.surface);
  WaitForStop(display);
  if (inhibitor) zwp_idle_inhibitor_v1_destroy(inhibitor);
  xdg_toplevel_destroy(top);
  xdg_surface_destroy(xs);
  wl_surface_destroy(w.surface);
  if (w.buffer) wl_buffer_destroy(w.buffer);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string what = argc > 1 ? argv[1] : "";
  bool pointer = what == "pointer" && (argc == 4 || (argc == 5 && std::string(argv[4]) == "click"));
  bool key = what == "key" && argc == 2;
  bool mouse = what == "mouse" && argc == 2;
  std::string extra = argc == 4 ? argv[3] : "";
  bool inhibit = extra == "inhibit", paced = extra == "paced";
  bool window = what == "window" && (argc == 3 || inhibit || paced) && std::strlen(argv[2]) == 6;
  if (!pointer && !window && !key && !mouse) {
    std::fprintf(stderr, "usage: glymmer-wl-helper pointer DX DY [click] | mouse | key | "
                         "window RRGGBB [inhibit|paced]\n");
    return 2;
  }
  wl_display* display = wl_display_connect(nullptr);
  if (!display) {
    std::fprintf(stderr, "glymmer-wl-helper: no Wayland compositor\n");
    return 1;
  }
  Globals g;
  wl_registry* registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &kRegistry, &g);
  wl_display_roundtrip(display);
  int status =
      pointer ? MovePointer(display, g, std::atoi(argv[2]), std::atoi(argv[3]), argc == 5)
      : key   ? PressKey(display, g)
      : mouse ? HoldPointer(display, g)
              : ShowWindow(display, g, static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 16)),
                           inhibit, paced);
  if (g.pointers) zwlr_virtual_pointer_manager_v1_destroy(g.pointers);
  if (g.fake) org_kde_kwin_fake_input_destroy(g.fake);
  if (g.inhibitors) zwp_idle_inhibit_manager_v1_destroy(g.inhibitors);
  if (g.wmBase) xdg_wm_base_destroy(g.wmBase);
  if (g.seat) wl_seat_destroy(g.seat);
  if (g.shm) wl_shm_destroy(g.shm);
  if (g.compositor) wl_compositor_destroy(g.compositor);
  wl_registry_destroy(registry);
  wl_display_disconnect(display);
  return status;
}
