// DisplayPower: mutter's PowerSaveMode, read once and then followed through
// PropertiesChanged on a connection of its own. mutter appearing later is
// news from the bus itself (NameOwnerChanged for its name alone), so a
// desktop without mutter costs one lookup and then nothing.

#include "platform/dbus/DisplayPower.h"

#include "platform/dbus/Bus.h"

#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

constexpr const char* kName = "org.gnome.Mutter.DisplayConfig";
constexpr const char* kPath = "/org/gnome/Mutter/DisplayConfig";

struct Follower {
  bool started = false;
  bool asleep = false;
  GDBusConnection* bus = nullptr;  // kept for the process's life
};

Follower& State() {
  static Follower follower;
  return follower;
}

// 0 on, 1 standby, 2 suspend, 3 off; -1 (unknown) counts as on.
void Take(GVariant* mode) {
  if (mode && g_variant_is_of_type(mode, G_VARIANT_TYPE_INT32)) {
    int32_t value = g_variant_get_int32(mode);
    State().asleep = value >= 1 && value <= 3;
  }
}

void TakeReply(GVariant* reply) {
  if (!reply) return;
  GVariant* mode = nullptr;
  g_variant_get(reply, "(v)", &mode);
  Take(mode);
  g_variant_unref(mode);
  g_variant_unref(reply);
}

void OnRead(GObject* bus, GAsyncResult* result, gpointer) {
  TakeReply(g_dbus_connection_call_finish(G_DBUS_CONNECTION(bus), result, nullptr));
}

// Asked without waiting: mutter that has just appeared may be busy setting up.
void ReadLater() {
  g_dbus_connection_call(State().bus, kName, kPath, "org.freedesktop.DBus.Properties", "Get",
                         g_variant_new("(ss)", kName, "PowerSaveMode"), G_VARIANT_TYPE("(v)"),
                         G_DBUS_CALL_FLAGS_NO_AUTO_START, 5000, nullptr, OnRead, nullptr);
}

void OnChanged(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
               GVariant* parameters, gpointer) {
  if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(sa{sv}as)"))) return;
  GVariant* changed = nullptr;
  g_variant_get(parameters, "(&s@a{sv}@as)", nullptr, &changed, nullptr);
  GVariant* mode = g_variant_lookup_value(changed, "PowerSaveMode", G_VARIANT_TYPE_INT32);
  Take(mode);
  if (mode) g_variant_unref(mode);
  g_variant_unref(changed);
}

// mutter came or went (a restart, or GNOME Shell replacing itself on X11).
void OnOwner(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
             GVariant* parameters, gpointer) {
  if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(sss)"))) return;
  const gchar* owner = nullptr;
  g_variant_get(parameters, "(&s&s&s)", nullptr, nullptr, &owner);
  State().asleep = false;
  if (owner && *owner) ReadLater();
}

// Whether the session bus can be found without starting one: GLib would
// otherwise autolaunch a bus for the X display, which mutter is never on.
bool SessionBusKnown() {
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (address && *address) return true;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  return runtime && *runtime && access((std::string(runtime) + "/bus").c_str(), F_OK) == 0;
}

void Start() {
  Follower& state = State();
  state.started = true;
  if (!SessionBusKnown()) return;
  std::string why;
  state.bus = dbus::OpenBus(G_BUS_TYPE_SESSION, &why);
  if (!state.bus) return;
  g_dbus_connection_signal_subscribe(state.bus, kName, "org.freedesktop.DBus.Properties",
                                     "PropertiesChanged", kPath, kName, G_DBUS_SIGNAL_FLAGS_NONE,
                                     OnChanged, nullptr, nullptr);
  g_dbus_connection_signal_subscribe(state.bus, "org.freedesktop.DBus", "org.freedesktop.DBus",
                                     "NameOwnerChanged", "/org/freedesktop/DBus", kName,
                                     G_DBUS_SIGNAL_FLAGS_NONE, OnOwner, nullptr, nullptr);
  if (!dbus::NameHasOwner(state.bus, kName)) return;
  TakeReply(dbus::CallSync(state.bus, kName, kPath, "org.freedesktop.DBus.Properties", "Get",
                           g_variant_new("(ss)", kName, "PowerSaveMode"), G_VARIANT_TYPE("(v)"),
                           1000, &why));
}

}  // namespace

bool MonitorsAsleep() {
  Follower& state = State();
  if (!state.started) {
    Start();
  } else if (state.bus) {
    GMainContext* context = g_main_context_default();
    if (g_main_context_acquire(context)) {
      while (g_main_context_iteration(context, FALSE)) {
      }
      g_main_context_release(context);
    }
  }
  return state.asleep;
}
