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
import sys

from gi.repository import Gio, GLib

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


def command(channel, condition):
    line = sys.stdin.readline()
    if not line:
        loop.quit()
        return False
    words = line.split()
    if words == ["lock"] or words == ["unlock"]:
        bus.emit_signal(None, SESSION, "org.freedesktop.login1.Session",
                        words[0].capitalize(), None)
    elif len(words) == 2 and words[0] == "hint":
        set_hint(words[1] == "true")
    else:
        print("unknown command: " + line.strip(), flush=True)
        return True
    bus.flush_sync(None)
    print("ok", flush=True)
    return True


def owned(connection, name):
    print("ready", flush=True)


Gio.bus_own_name_on_connection(bus, "org.freedesktop.login1", Gio.BusNameOwnerFlags.NONE,
                               owned, None)
GLib.io_add_watch(GLib.IOChannel.unix_new(0), GLib.PRIORITY_DEFAULT, GLib.IO_IN | GLib.IO_HUP,
                  command)
loop = GLib.MainLoop()
loop.run()
