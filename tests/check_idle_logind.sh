#!/usr/bin/env bash
# glymmer --idle and logind's session lock, on a private Xvfb (MIT-SCREEN-SAVER,
# input through XTest) with a stand-in logind on a private system bus
# (tests/support/logind.py: logind's own names, paths, signals and property;
# the machine's logind cannot be made to lock a session here).
#
#   tests/check_idle_logind.sh BUILD_DIR [SOURCE_DIR]
#
# With a delay of 2 s: logind's Lock alone, as `loginctl lock-session` sends it
# for swaylock or i3lock (which never set LockedHint), ends the saver, and once
# the user is back the saver comes again after the next idle period. A lock that LockedHint confirms, as GNOME and Plasma
# keep it, holds every saver back whatever the user does, until LockedHint
# turns false.
set -euo pipefail
build=$(cd "$1" && pwd)
source_dir=$(cd "${2:-$(dirname "$0")/..}" && pwd)
glymmer=$build/app/glymmer
xshot=$build/tools/glymmer-xshot/glymmer-xshot

fail() { echo "FAIL: $*" >&2; [ -f "${log:-}" ] && tail -n 20 "$log" >&2; exit 1; }
. "$source_dir/tests/support/session.sh"
. "$source_dir/tests/support/idle.sh"
need_tools Xvfb xdotool xsetroot dbus-daemon
# Debian's own Python, which python3-gi serves (another python3 may come first
# on the path).
/usr/bin/python3 -c 'from gi.repository import Gio' 2>/dev/null ||
  fail "python3-gi is not installed (scripts/setup installs it)"
need_built "$glymmer" "$xshot"

work=$(mktemp -d)
trap end_started EXIT
idle_home
export DBUS_SESSION_BUS_ADDRESS=unix:path=$work/no-bus XDG_SESSION_ID=31
unset WAYLAND_DISPLAY

dbus-daemon --session --nofork --address="unix:path=$work/system-bus" >/dev/null 2>&1 &
pids+=($!)
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$work/system-bus
for _ in $(seq 100); do [ -S "$work/system-bus" ] && break; sleep 0.1; done
coproc logind { exec /usr/bin/python3 -B "$source_dir/tests/support/logind.py"; }
pids+=("$logind_PID")
read -r -t 10 -u "${logind[0]}" ready && [ "$ready" = ready ] || fail "the stand-in logind did not start"

shot() { "$xshot"; }
start_xvfb 320x240
pids+=("$xvfb_pid")
xsetroot -solid red
wait_uncovered 0.9

xdotool mousemove 10 10
saver_after_delay MIT-SCREEN-SAVER --fullscreen
grep -qF "the saver ends when logind locks session /org/freedesktop/login1/session/_31" "$log" ||
  fail "the watcher does not watch the stand-in logind's session"

# Lock alone: the saver ends. The user back, typing the password: the lock no
# locker confirmed is over, and the next idle period brings the saver.
ask logind lock
wait_seen "the session locked; the saver ends" 1
wait_uncovered 0.9
xdotool key shift
wait_seen "it counts as over now that the user is back" 1
wait_seen "the saver starts" 2
wait_covered
xdotool key shift
wait_seen "the saver ended" 2

# LockedHint true: every idle period is held back, after activity too, until
# it turns false.
ask logind hint true
wait_seen "the session locked" 2
wait_seen "but the session is locked" 1 5
xdotool key shift
wait_seen "but the session is locked" 2 5
[ "$(seen "the saver starts")" -eq 2 ] || fail "a saver came while LockedHint said the session was locked"
ask logind hint false
wait_seen "the session is unlocked" 1
xdotool key shift
wait_seen "the saver starts" 3
wait_covered
end_watcher

echo "Idle watcher check with logind's lock passed"
