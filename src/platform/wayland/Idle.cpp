// The idle watcher's Wayland source: ext-idle-notify-v1, or KDE's older
// org_kde_kwin_idle where it is all the compositor offers (sway 1.7). Both
// apply the compositor's idle inhibitors (a video player's). The source keeps
// a connection of its own, apart from any view's, and reads it from the
// thread's default GLib main context.

#include "platform/DisplaySystem.h"
#include "platform/IdleSource.h"
#include "platform/wayland/Lost.h"

#include "ext-idle-notify-v1-client-protocol.h"
#if GLYMMER_HAVE_KDE_IDLE
#include "kde-idle-client-protocol.h"
#endif

#include <glib-unix.h>
#include <glib.h>
#include <wayland-client.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

class WaylandIdle : public IdleSource {
public:
  ~WaylandIdle() override;

  // Connects and looks at the globals. False when the compositor cannot be
  // reached; *what then says so.
  bool Connect(std::string* what);
  bool HasNotifier() const {
#if GLYMMER_HAVE_KDE_IDLE
    if (kdeIdle) return seat != nullptr;
#endif
    return notifier && seat;
  }

  const char* Name() const override {
    return notifier ? "ext-idle-notify-v1" : "org_kde_kwin_idle";
  }
  bool Start(unsigned delayMs, std::function<void(IdleEvent)> notify) override;
  bool Rearm(unsigned delayMs) override;
  bool OffersSaverLayer() const override { return layerShell && HaveSaverLayer(); }

private:
  static void OnGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface,
                       uint32_t version);
  static gboolean OnReadable(gint fd, GIOCondition condition, gpointer data);
  void Tell(IdleEvent event);
  void Lose();
  // Asks the compositor for a watch of `delayMs`, dropping the one before:
  // its events still on their way are dropped with it.
  void Arm(unsigned delayMs);

  wl_display* display = nullptr;
  wl_registry* registry = nullptr;
  wl_seat* seat = nullptr;
  ext_idle_notifier_v1* notifier = nullptr;
  ext_idle_notification_v1* notification = nullptr;
#if GLYMMER_HAVE_KDE_IDLE
  org_kde_kwin_idle* kdeIdle = nullptr;
  org_kde_kwin_idle_timeout* kdeTimeout = nullptr;
#endif
  bool layerShell = false;
  guint watch = 0;
  bool lost = false;
  std::function<void(IdleEvent)> notify;
};

void WaylandIdle::OnGlobal(void* data, wl_registry* registry, uint32_t name,
                           const char* interface, uint32_t) {
  WaylandIdle* self = static_cast<WaylandIdle*>(data);
  if (!std::strcmp(interface, wl_seat_interface.name) && !self->seat) {
    // Idle time is the seat's: the first seat is the user's.
    self->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
  } else if (!std::strcmp(interface, ext_idle_notifier_v1_interface.name)) {
    self->notifier = static_cast<ext_idle_notifier_v1*>(
        wl_registry_bind(registry, name, &ext_idle_notifier_v1_interface, 1));
#if GLYMMER_HAVE_KDE_IDLE
  } else if (!std::strcmp(interface, org_kde_kwin_idle_interface.name)) {
    self->kdeIdle = static_cast<org_kde_kwin_idle*>(
        wl_registry_bind(registry, name, &org_kde_kwin_idle_interface, 1));
#endif
  } else if (!std::strcmp(interface, "zwlr_layer_shell_v1")) {
    self->layerShell = true;
  }
}

bool WaylandIdle::Connect(std::string* what) {
  const char* name = std::getenv("WAYLAND_DISPLAY");
  std::string quoted = std::string("\"") + (name ? name : "wayland-0") + "\"";
  display = wl_display_connect(nullptr);
  if (!display) {
    *what = "an idle protocol on the Wayland compositor " + quoted + ", which cannot be reached";
    return false;
  }
  static const wl_registry_listener listener = {OnGlobal, [](void*, wl_registry*, uint32_t) {}};
  registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &listener, this);
  if (wl_display_roundtrip(display) < 0) {
    *what = "an idle protocol on the Wayland compositor " + quoted + ", which does not answer";
    return false;
  }
#if GLYMMER_HAVE_KDE_IDLE
  // ext-idle-notify-v1 is the standard one; the older protocol only stands
  // in for it.
  if (notifier && kdeIdle) {
    org_kde_kwin_idle_destroy(kdeIdle);
    kdeIdle = nullptr;
  }
  *what = "ext-idle-notify-v1 and org_kde_kwin_idle on the Wayland compositor " + quoted;
#else
  *what = "ext-idle-notify-v1 on the Wayland compositor " + quoted +
          " (this glymmer was built without org_kde_kwin_idle)";
#endif
  if ((notifier
#if GLYMMER_HAVE_KDE_IDLE
       || kdeIdle
#endif
       ) && !seat)
    *what += " (it offers no seat)";
  return true;
}

WaylandIdle::~WaylandIdle() {
  if (watch) g_source_remove(watch);
  if (notification) ext_idle_notification_v1_destroy(notification);
  if (notifier) ext_idle_notifier_v1_destroy(notifier);
#if GLYMMER_HAVE_KDE_IDLE
  if (kdeTimeout) org_kde_kwin_idle_timeout_release(kdeTimeout);
  if (kdeIdle) org_kde_kwin_idle_destroy(kdeIdle);
#endif
  if (seat) wl_seat_destroy(seat);
  if (registry) wl_registry_destroy(registry);
  if (display) {
    wl_display_flush(display);
    wl_display_disconnect(display);
  }
}

void WaylandIdle::Tell(IdleEvent event) {
  if (notify) notify(event);
}

void WaylandIdle::Lose() {
  if (lost) return;
  lost = true;
  wayland::SayConnectionLost(display);
  Tell(IdleEvent::kLost);
}

gboolean WaylandIdle::OnReadable(gint, GIOCondition condition, gpointer data) {
  WaylandIdle* self = static_cast<WaylandIdle*>(data);
  // Whatever came with a hang-up is read first; the read then fails.
  if (condition & (G_IO_IN | G_IO_HUP | G_IO_ERR)) {
    if (wl_display_dispatch(self->display) < 0 || wl_display_flush(self->display) < 0) {
      if (errno != EAGAIN) {
        self->watch = 0;
        self->Lose();
        return G_SOURCE_REMOVE;
      }
    }
  }
  return G_SOURCE_CONTINUE;
}

void WaylandIdle::Arm(unsigned delayMs) {
  if (notification) ext_idle_notification_v1_destroy(notification);
  notification = nullptr;
#if GLYMMER_HAVE_KDE_IDLE
  if (kdeTimeout) org_kde_kwin_idle_timeout_release(kdeTimeout);
  kdeTimeout = nullptr;
#endif
  if (notifier) {
    static const ext_idle_notification_v1_listener listener = {
        [](void* data, ext_idle_notification_v1*) {
          static_cast<WaylandIdle*>(data)->Tell(IdleEvent::kIdle);
        },
        [](void* data, ext_idle_notification_v1*) {
          static_cast<WaylandIdle*>(data)->Tell(IdleEvent::kActive);
        }};
    notification = ext_idle_notifier_v1_get_idle_notification(notifier, delayMs, seat);
    ext_idle_notification_v1_add_listener(notification, &listener, this);
  }
#if GLYMMER_HAVE_KDE_IDLE
  else if (kdeIdle) {
    static const org_kde_kwin_idle_timeout_listener listener = {
        [](void* data, org_kde_kwin_idle_timeout*) {
          static_cast<WaylandIdle*>(data)->Tell(IdleEvent::kIdle);
        },
        [](void* data, org_kde_kwin_idle_timeout*) {
          static_cast<WaylandIdle*>(data)->Tell(IdleEvent::kActive);
        }};
    kdeTimeout = org_kde_kwin_idle_get_idle_timeout(kdeIdle, seat, delayMs);
    org_kde_kwin_idle_timeout_add_listener(kdeTimeout, &listener, this);
  }
#endif
}

bool WaylandIdle::Rearm(unsigned delayMs) {
  if (lost) return false;
  Arm(delayMs);
  // A failed flush shows as a hang-up in the loop.
  wl_display_flush(display);
  return true;
}

bool WaylandIdle::Start(unsigned delayMs, std::function<void(IdleEvent)> tell) {
  notify = std::move(tell);
  Arm(delayMs);
  if (wl_display_flush(display) < 0 && errno != EAGAIN) {
    std::fprintf(stderr, "glymmer: the Wayland compositor went away\n");
    return false;
  }
  watch = g_unix_fd_add(wl_display_get_fd(display),
                        static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR), OnReadable, this);
  return true;
}

}  // namespace

std::unique_ptr<IdleSource> MakeWaylandIdleSource(std::string* lookedFor) {
  std::unique_ptr<WaylandIdle> source(new WaylandIdle);
  if (!source->Connect(lookedFor) || !source->HasNotifier()) return nullptr;
  return source;
}
