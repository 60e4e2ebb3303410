"""What the checks' stand-ins for session and system services share: the
service's name owned on its bus, and commands, one a line, on standard input,
each answered "ok" once done; "ready" comes once the name is owned."""
import sys

from gi.repository import Gio, GLib


def serve(bus, name, command):
    """Owns `name` on `bus` and runs until standard input ends. `command` acts
    on a line's words and returns False for words it does not know."""
    def line_in(channel, condition):
        line = sys.stdin.readline()
        if not line:
            loop.quit()
            return False
        if not command(line.split()):
            print("unknown command: " + line.strip(), flush=True)
            return True
        bus.flush_sync(None)
        print("ok", flush=True)
        return True

    Gio.bus_own_name_on_connection(bus, name, Gio.BusNameOwnerFlags.NONE,
                                   lambda connection, owned: print("ready", flush=True), None)
    GLib.io_add_watch(GLib.IOChannel.unix_new(0), GLib.PRIORITY_DEFAULT,
                      GLib.IO_IN | GLib.IO_HUP, line_in)
    loop = GLib.MainLoop()
    loop.run()
