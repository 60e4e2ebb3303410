// Bus: what the desktop's D-Bus services share inside the platform layer: a
// private connection to a message bus, and asking the bus about a name.
// Each watch holds a connection of its own, so that what it registers with
// a service (GNOME's idle watches) ends with it, and a bus that goes away
// reaches that watch alone instead of ending the process (a shared
// connection raises SIGTERM when it closes).
#pragma once

#include <gio/gio.h>

#include <string>

namespace dbus {

// A new connection to the session or system bus, dispatching on the thread's
// default main context; null, with the reason in *why, when there is none.
// Release it with CloseBus.
GDBusConnection* OpenBus(GBusType type, std::string* why);
// Closes the connection (what was registered over it ends) and drops it.
void CloseBus(GDBusConnection* bus);

// Whether some client owns `name` on the bus now; false when the bus cannot
// be asked.
bool NameHasOwner(GDBusConnection* bus, const char* name);

// Calls a method and waits for its answer up to `timeoutMs`, without starting
// a service that is not running. The reply (unref it), or null with the reason
// in *why.
GVariant* CallSync(GDBusConnection* bus, const char* name, const char* path,
                   const char* interface, const char* method, GVariant* parameters,
                   const GVariantType* replyType, int timeoutMs, std::string* why);

}  // namespace dbus
