#!/usr/bin/python3
"""A stand-in for logind on a private bus, for the checks of a machine whose
logind cannot be driven: org.freedesktop.login1 with the Manager's GetSession
and one session object that speaks logind's own interface, its Lock and Unlock
signals and its LockedHint property (SetLockedHint, announced with
PropertiesChanged).

Commands, one a line, on standard input: "lock" and "unlock" send the signals
(as `loginctl lock-session` and `unlock-session` make logind do), "hint true"
and "hint false" set LockedHint (as GNOME, Plasma and some lockers do). Each
is answered "ok" once sent; "ready" comes once the name is owned.
"""
from gi.repository import Gio, GLib

import standin

SESSION = "/org/freedesktop/login1/session/_31"
INTERFACES = Gio.DBusNodeInfo.new_for_xml("""
<node>
  <interface name="org.freedesktop.login1.Manager">
    <method name="GetSession">
      <arg type="s" direction="in"/><arg type="o" direction="out"/>
    </method>
  </interface>
  <interface name="org.freedesktop.login1.Session">
    <method name="SetLockedHint"><arg type="b" direction="in"/></method>
    <signal name="Lock"/>
    <signal name="Unlock"/>
    <property name="LockedHint" type="b" access="read"/>
  </interface>
</node>""").interfaces

bus = Gio.bus_get_sync(Gio.BusType.SYSTEM, None)
hint = False


def set_hint(value):
    global hint
    hint = value
    changed = GLib.Variant("(sa{sv}as)", ("org.freedesktop.login1.Session",
                                         {"LockedHint": GLib.Variant("b", value)}, []))
    bus.emit_signal(None, SESSION, "org.freedesktop.DBus.Properties", "PropertiesChanged",
                    changed)


def manager_call(connection, sender, path, interface, method, parameters, invocation):
    invocation.return_value(GLib.Variant("(o)", (SESSION,)))


def session_call(connection, sender, path, interface, method, parameters, invocation):
    set_hint(parameters.unpack()[0])
    invocation.return_value(None)


def session_property(connection, sender, path, interface, name):
    return GLib.Variant("b", hint)


bus.register_object("/org/freedesktop/login1", INTERFACES[0], manager_call, None, None)
bus.register_object(SESSION, INTERFACES[1], session_call, session_property, None)


def command(words):
    if words == ["lock"] or words == ["unlock"]:
        bus.emit_signal(None, SESSION, "org.freedesktop.login1.Session",
                        words[0].capitalize(), None)
    elif len(words) == 2 and words[0] == "hint":
        set_hint(words[1] == "true")
    else:
        return False
    return True


standin.serve(bus, "org.freedesktop.login1", command)
