// Bus: private connections to the session and system buses.

#include "platform/dbus/Bus.h"

namespace dbus {

namespace {

std::string Message(GError* error) {
  std::string text = error ? error->message : "unknown error";
  if (error) g_error_free(error);
  return text;
}

}  // namespace

GDBusConnection* OpenBus(GBusType type, std::string* why) {
  GError* error = nullptr;
  gchar* address = g_dbus_address_get_for_bus_sync(type, nullptr, &error);
  if (!address) {
    *why = Message(error);
    return nullptr;
  }
  GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
      address,
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, &error);
  g_free(address);
  if (!bus) {
    *why = Message(error);
    return nullptr;
  }
  // A bus that goes away is news for the watch that holds the connection,
  // not a reason to end the process.
  g_dbus_connection_set_exit_on_close(bus, FALSE);
  return bus;
}

void CloseBus(GDBusConnection* bus) {
  if (!bus) return;
  if (!g_dbus_connection_is_closed(bus)) g_dbus_connection_close_sync(bus, nullptr, nullptr);
  g_object_unref(bus);
}

bool NameHasOwner(GDBusConnection* bus, const char* name) {
  std::string why;
  GVariant* reply = CallSync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                             "org.freedesktop.DBus", "NameHasOwner", g_variant_new("(s)", name),
                             G_VARIANT_TYPE("(b)"), 5000, &why);
  if (!reply) return false;
  gboolean owned = FALSE;
  g_variant_get(reply, "(b)", &owned);
  g_variant_unref(reply);
  return owned;
}

GVariant* CallSync(GDBusConnection* bus, const char* name, const char* path,
                   const char* interface, const char* method, GVariant* parameters,
                   const GVariantType* replyType, int timeoutMs, std::string* why) {
  if (!bus) {
    if (parameters) g_variant_unref(g_variant_ref_sink(parameters));
    *why = "no bus";
    return nullptr;
  }
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_sync(bus, name, path, interface, method, parameters,
                                                replyType, G_DBUS_CALL_FLAGS_NO_AUTO_START,
                                                timeoutMs, nullptr, &error);
  if (!reply) *why = Message(error);
  return reply;
}

}  // namespace dbus
