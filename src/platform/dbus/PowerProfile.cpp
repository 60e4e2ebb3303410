// PowerProfile: power-profiles-daemon's ActiveProfile, read once and then
// followed through PropertiesChanged on a connection of its own.

#include "platform/dbus/PowerProfile.h"

#include "platform/dbus/Bus.h"

#include <cstring>
#include <string>

namespace {

struct Service {
  const char* name;
  const char* path;
};
// The daemon's newer name first; it answers to both.
constexpr Service kServices[] = {
    {"org.freedesktop.UPower.PowerProfiles", "/org/freedesktop/UPower/PowerProfiles"},
    {"net.hadess.PowerProfiles", "/net/hadess/PowerProfiles"},
};

struct Follower {
  bool started = false;
  bool saving = false;
  GDBusConnection* bus = nullptr;  // kept for the process's life
};

Follower& State() {
  static Follower follower;
  return follower;
}

void Take(GVariant* profile) {
  if (profile && g_variant_is_of_type(profile, G_VARIANT_TYPE_STRING))
    State().saving = std::strcmp(g_variant_get_string(profile, nullptr), "power-saver") == 0;
}

void OnChanged(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
               GVariant* parameters, gpointer) {
  if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(sa{sv}as)"))) return;
  GVariant* changed = nullptr;
  g_variant_get(parameters, "(&s@a{sv}@as)", nullptr, &changed, nullptr);
  GVariant* profile = g_variant_lookup_value(changed, "ActiveProfile", G_VARIANT_TYPE_STRING);
  Take(profile);
  if (profile) g_variant_unref(profile);
  g_variant_unref(changed);
}

void Start() {
  Follower& state = State();
  state.started = true;
  std::string why;
  state.bus = dbus::OpenBus(G_BUS_TYPE_SYSTEM, &why);
  if (!state.bus) return;
  for (const Service& service : kServices) {
    if (!dbus::NameHasOwner(state.bus, service.name)) continue;
    g_dbus_connection_signal_subscribe(state.bus, service.name, "org.freedesktop.DBus.Properties",
                                       "PropertiesChanged", service.path, service.name,
                                       G_DBUS_SIGNAL_FLAGS_NONE, OnChanged, nullptr, nullptr);
    GVariant* reply = dbus::CallSync(state.bus, service.name, service.path,
                                     "org.freedesktop.DBus.Properties", "Get",
                                     g_variant_new("(ss)", service.name, "ActiveProfile"),
                                     G_VARIANT_TYPE("(v)"), 1000, &why);
    if (reply) {
      GVariant* profile = nullptr;
      g_variant_get(reply, "(v)", &profile);
      Take(profile);
      g_variant_unref(profile);
      g_variant_unref(reply);
    }
    return;
  }
}

}  // namespace

bool PowerSaverOn() {
  if (!State().started) Start();
  return State().saving;
}

void PowerProfileUpdate() {
  if (!State().bus) return;
  GMainContext* context = g_main_context_default();
  if (g_main_context_acquire(context)) {
    while (g_main_context_iteration(context, FALSE)) {
    }
    g_main_context_release(context);
  }
}
