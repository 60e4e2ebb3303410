#!/usr/bin/python3
"""A stand-in for power-profiles-daemon on a private system bus, for the
checks of a machine that runs none: net.hadess.PowerProfiles at
/net/hadess/PowerProfiles with its ActiveProfile property, as GLib's power
profile monitor reads it.

The first argument is the profile to start with ("balanced", "power-saver");
"profile NAME" on standard input changes it, announced with PropertiesChanged.
"""
import sys

from gi.repository import Gio, GLib

import standin

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


def command(words):
    global profile
    if len(words) != 2 or words[0] != "profile":
        return False
    profile = words[1]
    bus.emit_signal(None, PATH, "org.freedesktop.DBus.Properties", "PropertiesChanged",
                    GLib.Variant("(sa{sv}as)", (NAME, {"ActiveProfile": GLib.Variant("s", profile)}, [])))
    return True


standin.serve(bus, NAME, command)
