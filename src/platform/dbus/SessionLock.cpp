// SessionLock: logind's Lock, its session's LockedHint and the desktops'
// ScreenSaver ActiveChanged.

#include "platform/dbus/SessionLock.h"

#include "platform/dbus/Bus.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr const char* kLogind = "org.freedesktop.login1";

// The object path of this process's logind session; "" when logind does not
// know one. Without XDG_SESSION_ID logind's "auto" is this process's session,
// or, for a process outside any (a systemd user service), the user's display
// session.
std::string LogindSession(GDBusConnection* system) {
  if (!dbus::NameHasOwner(system, kLogind)) return std::string();
  const char* id = std::getenv("XDG_SESSION_ID");
  std::string why;
  GVariant* reply = dbus::CallSync(system, kLogind, "/org/freedesktop/login1",
                                   "org.freedesktop.login1.Manager", "GetSession",
                                   g_variant_new("(s)", id && *id ? id : "auto"),
                                   G_VARIANT_TYPE("(o)"), 5000, &why);
  if (!reply) return std::string();
  const gchar* path = nullptr;
  g_variant_get(reply, "(&o)", &path);
  std::string session = path ? path : "";
  g_variant_unref(reply);
  return session;
}

class SessionLockWatch : public LockWatch {
public:
  SessionLockWatch(GDBusConnection* session, GDBusConnection* system, std::string logindSession)
      : session(session), system(system), logindSession(std::move(logindSession)) {}

  ~SessionLockWatch() override {
    for (const auto& s : subscriptions) g_dbus_connection_signal_unsubscribe(s.first, s.second);
    dbus::CloseBus(session);
    dbus::CloseBus(system);
  }

  bool Start(std::function<void(bool)> changedWith) override {
    changed = std::move(changedWith);
    if (system && !logindSession.empty()) {
      // Lock and Unlock ask the session's locker to act (loginctl lock-session
      // sends Lock alone); LockedHint is what the locker says it did, kept by
      // GNOME and Plasma, and by lockers that set it.
      Subscribe(system, kLogind, "org.freedesktop.login1.Session", "Lock",
                logindSession.c_str(), OnLock);
      Subscribe(system, kLogind, "org.freedesktop.login1.Session", "Unlock",
                logindSession.c_str(), OnUnlock);
      Subscribe(system, kLogind, "org.freedesktop.DBus.Properties", "PropertiesChanged",
                logindSession.c_str(), OnProperties);
      std::string why;
      GVariant* reply = dbus::CallSync(
          system, kLogind, logindSession.c_str(), "org.freedesktop.DBus.Properties", "Get",
          g_variant_new("(ss)", "org.freedesktop.login1.Session", "LockedHint"),
          G_VARIANT_TYPE("(v)"), 5000, &why);
      if (reply) {
        GVariant* value = nullptr;
        g_variant_get(reply, "(v)", &value);
        if (g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN) && g_variant_get_boolean(value))
          Hinted(true);
        g_variant_unref(value);
        g_variant_unref(reply);
      }
    }
    if (session) {
      // Any sender: the service that owns the name may start after the watch.
      Subscribe(session, nullptr, "org.freedesktop.ScreenSaver", "ActiveChanged", nullptr,
                OnActiveChanged);
      Subscribe(session, nullptr, "org.gnome.ScreenSaver", "ActiveChanged", nullptr,
                OnActiveChanged);
    }
    return !subscriptions.empty();
  }

private:
  void Subscribe(GDBusConnection* bus, const char* sender, const char* interface,
                 const char* member, const char* path, GDBusSignalCallback callback) {
    guint id = g_dbus_connection_signal_subscribe(bus, sender, interface, member, path, nullptr,
                                                  G_DBUS_SIGNAL_FLAGS_NONE, callback, this, nullptr);
    if (id) subscriptions.push_back({bus, id});
  }

  bool Confirmed() const override { return hinted || desktopLocked; }

  void Hinted(bool locked) {
    if (locked == hinted) return;
    hinted = locked;
    changed(locked);
  }

  static void OnLock(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                     GVariant*, gpointer data) {
    static_cast<SessionLockWatch*>(data)->changed(true);
  }
  static void OnUnlock(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                       GVariant*, gpointer data) {
    static_cast<SessionLockWatch*>(data)->changed(false);
  }

  static void OnProperties(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                           const gchar*, GVariant* parameters, gpointer data) {
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(sa{sv}as)"))) return;
    const gchar* interface = nullptr;
    GVariant* properties = nullptr;
    g_variant_get(parameters, "(&s@a{sv}@as)", &interface, &properties, nullptr);
    gboolean hint = FALSE;
    if (std::strcmp(interface, "org.freedesktop.login1.Session") == 0 &&
        g_variant_lookup(properties, "LockedHint", "b", &hint))
      static_cast<SessionLockWatch*>(data)->Hinted(hint);
    g_variant_unref(properties);
  }

  static void OnActiveChanged(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                              const gchar*, GVariant* parameters, gpointer data) {
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(b)"))) return;
    gboolean active = FALSE;
    g_variant_get(parameters, "(b)", &active);
    auto* watch = static_cast<SessionLockWatch*>(data);
    watch->desktopLocked = active;
    watch->changed(active);
  }

  GDBusConnection* session;
  GDBusConnection* system;
  std::string logindSession;
  std::function<void(bool)> changed;
  bool hinted = false;         // logind's LockedHint: a locker says the session is locked
  bool desktopLocked = false;  // the desktop's own locker is on
  std::vector<std::pair<GDBusConnection*, guint>> subscriptions;
};

}  // namespace

std::unique_ptr<LockWatch> MakeLockWatch(bool verbose) {
  std::string sessionWhy, systemWhy;
  GDBusConnection* session = dbus::OpenBus(G_BUS_TYPE_SESSION, &sessionWhy);
  GDBusConnection* system = dbus::OpenBus(G_BUS_TYPE_SYSTEM, &systemWhy);
  std::string logindSession = system ? LogindSession(system) : std::string();
  if (system && logindSession.empty()) {
    dbus::CloseBus(system);
    system = nullptr;
    systemWhy = "logind knows no session of this process";
  }
  if (verbose) {
    if (system)
      std::fprintf(stderr, "glymmer: the saver ends when logind locks session %s (Lock, LockedHint)\n",
                   logindSession.c_str());
    else
      std::fprintf(stderr, "glymmer: no logind lock to watch (%s)\n", systemWhy.c_str());
    if (session)
      std::fprintf(stderr, "glymmer: the saver ends when the desktop's screen locker "
                           "(org.freedesktop.ScreenSaver, org.gnome.ScreenSaver) comes on\n");
    else
      std::fprintf(stderr, "glymmer: no session bus for the desktop's screen locker (%s)\n",
                   sessionWhy.c_str());
  }
  if (!session && !system) return nullptr;
  return std::unique_ptr<LockWatch>(new SessionLockWatch(session, system, logindSession));
}
