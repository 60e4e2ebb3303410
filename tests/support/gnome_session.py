#!/usr/bin/python3
"""A stand-in for gnome-session on the session bus, for the checks of a
machine that cannot run it: org.gnome.SessionManager at /org/gnome/SessionManager
with its own IsInhibited(flags) and its InhibitorAdded and InhibitorRemoved
signals.

Commands, one a line, on standard input: "inhibit" adds an inhibitor of
idling (flag 8, as a video player asks for one), "uninhibit" removes it. Each
is answered "ok" once its signal is sent; "ready" comes once the name is owned.
"""
from gi.repository import Gio, GLib

import standin

PATH = "/org/gnome/SessionManager"
INHIBITOR = PATH + "/Inhibitor1"
INTERFACE = Gio.DBusNodeInfo.new_for_xml("""
<node>
  <interface name="org.gnome.SessionManager">
    <method name="IsInhibited">
      <arg type="u" direction="in"/><arg type="b" direction="out"/>
    </method>
    <signal name="InhibitorAdded"><arg type="o"/></signal>
    <signal name="InhibitorRemoved"><arg type="o"/></signal>
  </interface>
</node>""").interfaces[0]

bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
flags = 0


def call(connection, sender, path, interface, method, parameters, invocation):
    invocation.return_value(GLib.Variant("(b)", ((flags & parameters.unpack()[0]) != 0,)))


bus.register_object(PATH, INTERFACE, call, None, None)


def command(words):
    global flags
    if words == ["inhibit"]:
        flags, signal = 8, "InhibitorAdded"
    elif words == ["uninhibit"]:
        flags, signal = 0, "InhibitorRemoved"
    else:
        return False
    bus.emit_signal(None, PATH, "org.gnome.SessionManager", signal,
                    GLib.Variant("(o)", (INHIBITOR,)))
    return True


standin.serve(bus, "org.gnome.SessionManager", command)
