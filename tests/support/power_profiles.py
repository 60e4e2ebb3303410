#!/usr/bin/python3
"""A stand-in for power-profiles-daemon on a private system bus, for the
checks of a machine that runs none: net.hadess.PowerProfiles at
/net/hadess/PowerProfiles with its ActiveProfile property, as GLib's power
profile monitor reads it.

The first argument is the profile to start with ("balanced", "power-saver");
a line "profile NAME" on standard input changes it, announced with
PropertiesChanged, and is answered "ok"; "ready" comes once the name is owned.
"""
import sys

from gi.repository import Gio, GLib

PATH = "/net/hadess/PowerProfiles"
NAME = "net.hadess.PowerProfiles"
INTERFACE = Gio.DBusNodeInfo.new_for_xml("""
<node>
  <interface name="net.hadess.PowerProfiles">
    <property name="ActiveProfile" type="s" access="read"/>
  </interface>
</node>""").interfaces[0]

bus = Gio.bus_get_sync(Gio.BusType.SYSTEM, None)
profile = sys.argv[1] if len(sys.argv) > 1 else "balanced"

bus.register_object(PATH, INTERFACE, None, lambda *args: GLib.Variant("s", profile), None)


def command(channel, condition):
    global profile
    line = sys.stdin.readline()
    if not line:
        loop.quit()
        return False
    words = line.split()
    if len(words) != 2 or words[0] != "profile":
        print("unknown command: " + line.strip(), flush=True)
        return True
    profile = words[1]
    bus.emit_signal(None, PATH, "org.freedesktop.DBus.Properties", "PropertiesChanged",
                    GLib.Variant("(sa{sv}as)", (NAME, {"ActiveProfile": GLib.Variant("s", profile)}, [])))
    bus.flush_sync(None)
    print("ok", flush=True)
    return True


Gio.bus_own_name_on_connection(bus, NAME, Gio.BusNameOwnerFlags.NONE,
                               lambda *args: print("ready", flush=True), None)
GLib.io_add_watch(GLib.IOChannel.unix_new(0), GLib.PRIORITY_DEFAULT, GLib.IO_IN | GLib.IO_HUP,
                  command)
loop = GLib.MainLoop()
loop.run()
