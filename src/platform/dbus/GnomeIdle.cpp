// GnomeIdle: the idle source over mutter's org.gnome.Mutter.IdleMonitor.
//
// One idle watch for the delay is added at Start. mutter fires it each time
// the idle time passes the delay (at once when the session is idle longer
// already). After it fires, a user-active watch, which fires once at the next
// input, tells the end of the idle period; then the idle watch is armed
// again. Everything arrives on the default main context.
//
// GNOME Shell on Xorg restarts (Alt+F2 r, or after a crash) with a new
// mutter: the name goes, its watches with it, and comes back. The source
// then waits and starts over with a fresh idle watch. While the session is
// idle, gnome-session's InhibitorRemoved asks the watcher to look again, as an
// idle period held back by an inhibitor would otherwise last until the user
// is back.

#include "platform/dbus/GnomeIdle.h"

#include "platform/dbus/Bus.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr const char* kMonitorName = kGnomeIdleSourceName;
constexpr const char* kMonitorPath = "/org/gnome/Mutter/IdleMonitor/Core";
constexpr const char* kMonitorInterface = "org.gnome.Mutter.IdleMonitor";
constexpr const char* kSessionManager = "org.gnome.SessionManager";
constexpr const char* kSessionManagerPath = "/org/gnome/SessionManager";
// gnome-session's inhibitor flag for "keep the session from going idle".
constexpr guint32 kInhibitIdle = 8;
constexpr int kCallTimeoutMs = 5000;

class GnomeIdleSource : public IdleSource {
public:
  GnomeIdleSource(GDBusConnection* bus, bool verbose) : bus(bus), verbose(verbose) {
    cancellable = g_cancellable_new();
  }

  ~GnomeIdleSource() override {
    g_cancellable_cancel(cancellable);
    if (fired) g_dbus_connection_signal_unsubscribe(bus, fired);
    if (uninhibited) g_dbus_connection_signal_unsubscribe(bus, uninhibited);
    if (nameWatch) g_bus_unwatch_name(nameWatch);
    if (closedHandler) g_signal_handler_disconnect(bus, closedHandler);
    // Closing the connection ends the watches with it.
    dbus::CloseBus(bus);
    g_object_unref(cancellable);
  }

  const char* Name() const override { return kMonitorName; }

  bool Start(unsigned delayMs, std::function<void(IdleEvent)> notifyWith) override {
    notify = std::move(notifyWith);
    delay = std::max(1u, delayMs);
    fired = g_dbus_connection_signal_subscribe(bus, kMonitorName, kMonitorInterface, "WatchFired",
                                               kMonitorPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
                                               OnWatchFired, this, nullptr);
    uninhibited = g_dbus_connection_signal_subscribe(
        bus, kSessionManager, kSessionManager, "InhibitorRemoved", kSessionManagerPath, nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE, OnInhibitorRemoved, this, nullptr);
    closedHandler = g_signal_connect(bus, "closed", G_CALLBACK(OnClosed), this);
    nameWatch = g_bus_watch_name_on_connection(bus, kMonitorName, G_BUS_NAME_WATCHER_FLAGS_NONE,
                                               OnAppeared, OnVanished, this, nullptr);
    std::string why;
    if (!AddIdleWatch(&why)) {
      std::fprintf(stderr, "glymmer: GNOME's idle monitor refused a watch: %s\n", why.c_str());
      return false;
    }
    if (verbose)
      std::fprintf(stderr, "glymmer: %s\n",
                   dbus::NameHasOwner(bus, kSessionManager)
                       ? "gnome-session runs: its idle inhibitors are asked before the saver starts"
                       : "no gnome-session on the session bus: no idle inhibitors to ask");
    return true;
  }

  bool Rearm(unsigned delayMs) override {
    if (lost) return false;
    // Replies still on their way belong to the watches before: they are
    // dropped, and so are those watches.
    g_cancellable_cancel(cancellable);
    g_object_unref(cancellable);
    cancellable = g_cancellable_new();
    RemoveWatch(idleWatch);
    RemoveWatch(activeWatch);
    idleWatch = activeWatch = 0;
    idle = false;
    early.clear();
    delay = std::max(1u, delayMs);
    ++armings;
    AddWatchAsync("AddIdleWatch", g_variant_new("(t)", guint64{delay}), OnIdleWatchAdded);
    return true;
  }

  bool Inhibited() override {
    std::string why;
    GVariant* reply = dbus::CallSync(bus, kSessionManager, kSessionManagerPath,
                                     "org.gnome.SessionManager", "IsInhibited",
                                     g_variant_new("(u)", kInhibitIdle), G_VARIANT_TYPE("(b)"),
                                     kCallTimeoutMs, &why);
    if (!reply) return false;  // no gnome-session: nothing inhibits beyond mutter's own
    gboolean inhibited = FALSE;
    g_variant_get(reply, "(b)", &inhibited);
    g_variant_unref(reply);
    return inhibited;
  }

private:
  bool AddIdleWatch(std::string* why) {
    GVariant* reply = dbus::CallSync(bus, kMonitorName, kMonitorPath, kMonitorInterface,
                                     "AddIdleWatch", g_variant_new("(t)", guint64{delay}),
                                     G_VARIANT_TYPE("(u)"), kCallTimeoutMs, why);
    if (!reply) return false;
    g_variant_get(reply, "(u)", &idleWatch);
    g_variant_unref(reply);
    if (idleWatch == 0) *why = "AddIdleWatch gave id 0";
    return idleWatch != 0;
  }

  // Drops a watch, without waiting; 0 is none.
  void RemoveWatch(guint32 id) {
    if (!id) return;
    g_dbus_connection_call(bus, kMonitorName, kMonitorPath, kMonitorInterface, "RemoveWatch",
                           g_variant_new("(u)", id), nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START,
                           kCallTimeoutMs, nullptr, nullptr, nullptr);
  }

  // Asks for a watch without waiting; `done` gets its id (0 when refused).
  void AddWatchAsync(const char* method, GVariant* parameters, GAsyncReadyCallback done) {
    g_dbus_connection_call(bus, kMonitorName, kMonitorPath, kMonitorInterface, method, parameters,
                           G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NO_AUTO_START, kCallTimeoutMs,
                           cancellable, done, this);
  }

  // The id from a watch's reply; 0 when refused. Null `self` when the source
  // is gone.
  static guint32 WatchId(GObject* object, GAsyncResult* result, GnomeIdleSource** self,
                         gpointer data) {
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(object), result, &error);
    *self = static_cast<GnomeIdleSource*>(data);
    guint32 id = 0;
    if (reply) {
      g_variant_get(reply, "(u)", &id);
      g_variant_unref(reply);
      if (id == 0) std::fprintf(stderr, "glymmer: GNOME's idle monitor refused a watch (id 0)\n");
    } else {
      if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) *self = nullptr;
      else std::fprintf(stderr, "glymmer: GNOME's idle monitor refused a watch: %s\n", error->message);
      g_error_free(error);
    }
    return id;
  }

  static void OnActiveWatchAdded(GObject* object, GAsyncResult* result, gpointer data) {
    GnomeIdleSource* self;
    guint32 id = WatchId(object, result, &self, data);
    if (!self) return;
    self->activeWatch = id;
    if (id == 0) {
      // The end of this idle period cannot be told: the idle watch, which
      // fires again each time idle passes the delay after input, starts the
      // next one.
      self->idle = false;
      return;
    }
    // Its firing may have been read before this reply was.
    auto early = std::find(self->early.begin(), self->early.end(), id);
    if (early != self->early.end()) self->Fired(id);
    self->early.clear();
  }

  static void OnIdleWatchAdded(GObject* object, GAsyncResult* result, gpointer data) {
    GnomeIdleSource* self;
    guint32 id = WatchId(object, result, &self, data);
    if (!self) return;
    self->idleWatch = id;
    auto early = std::find(self->early.begin(), self->early.end(), id);
    if (id && early != self->early.end()) self->Fired(id);
  }

  static void OnWatchFired(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                           const gchar*, GVariant* parameters, gpointer data) {
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(u)"))) return;
    guint32 id = 0;
    g_variant_get(parameters, "(u)", &id);
    static_cast<GnomeIdleSource*>(data)->Fired(id);
  }

  void Fired(guint32 id) {
    if (lost) return;
    if (id != 0 && id == idleWatch && !idle) {
      idle = true;
      early.clear();
      AddWatchAsync("AddUserActiveWatch", nullptr, OnActiveWatchAdded);
      notify(IdleEvent::kIdle);
    } else if (id != 0 && id == activeWatch && idle) {
      idle = false;
      activeWatch = 0;
      // A fresh idle watch for the next period: the old one is dropped, so
      // no firing of it from the period just ended can count. The news may
      // arm one itself.
      RemoveWatch(idleWatch);
      idleWatch = 0;
      unsigned before = armings;
      notify(IdleEvent::kActive);
      if (armings == before && !lost)
        AddWatchAsync("AddIdleWatch", g_variant_new("(t)", guint64{delay}), OnIdleWatchAdded);
    } else if (id != 0 && id != idleWatch && id != activeWatch && early.size() < 16) {
      early.push_back(id);
    }
  }

  static void OnInhibitorRemoved(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                 const gchar*, GVariant*, gpointer data) {
    auto* self = static_cast<GnomeIdleSource*>(data);
    if (self->idle && !self->lost) self->notify(IdleEvent::kLookAgain);
  }

  void Lose(const char* what) {
    if (lost) return;
    lost = true;
    std::fprintf(stderr, "glymmer: %s went away\n", what);
    notify(IdleEvent::kLost);
  }

  static void OnClosed(GDBusConnection*, gboolean, GError*, gpointer data) {
    static_cast<GnomeIdleSource*>(data)->Lose("the session bus");
  }

  // The watches went with the old mutter, and ids start again with the new
  // one: nothing of the old ones may count. Calls still on their way are
  // cancelled; their answers come to nothing.
  static void OnVanished(GDBusConnection*, const gchar*, gpointer data) {
    auto* self = static_cast<GnomeIdleSource*>(data);
    if (self->away || self->lost) return;
    self->away = true;
    g_cancellable_cancel(self->cancellable);
    g_object_unref(self->cancellable);
    self->cancellable = g_cancellable_new();
    self->idle = false;
    self->idleWatch = 0;
    self->activeWatch = 0;
    self->early.clear();
    std::fprintf(stderr, "glymmer: GNOME's idle monitor (%s) went away; waiting for it to come "
                         "back\n", kMonitorName);
  }

  static void OnAppeared(GDBusConnection*, const gchar*, const gchar*, gpointer data) {
    auto* self = static_cast<GnomeIdleSource*>(data);
    if (!self->away || self->lost) return;
    self->away = false;
    if (self->verbose) std::fprintf(stderr, "glymmer: GNOME's idle monitor is back\n");
    self->AddWatchAsync("AddIdleWatch", g_variant_new("(t)", self->delay), OnIdleWatchAdded);
  }

  GDBusConnection* bus;
  bool verbose;
  GCancellable* cancellable = nullptr;
  std::function<void(IdleEvent)> notify;
  guint64 delay = 0;
  guint fired = 0;
  guint uninhibited = 0;
  guint nameWatch = 0;
  gulong closedHandler = 0;
  guint32 idleWatch = 0;
  guint32 activeWatch = 0;
  std::vector<guint32> early;  // ids fired before their watch's reply came
  bool idle = false;
  bool away = false;  // the idle monitor has no owner on the bus
  bool lost = false;
  unsigned armings = 0;  // how often Rearm armed the watch anew
};

}  // namespace

std::unique_ptr<IdleSource> MakeGnomeIdleSource(bool verbose) {
  std::string why;
  GDBusConnection* bus = dbus::OpenBus(G_BUS_TYPE_SESSION, &why);
  if (!bus) {
    if (verbose) std::fprintf(stderr, "glymmer: no session bus (%s)\n", why.c_str());
    return nullptr;
  }
  if (!dbus::NameHasOwner(bus, kMonitorName)) {
    if (verbose) std::fprintf(stderr, "glymmer: no %s on the session bus\n", kMonitorName);
    dbus::CloseBus(bus);
    return nullptr;
  }
  return std::unique_ptr<IdleSource>(new GnomeIdleSource(bus, verbose));
}
