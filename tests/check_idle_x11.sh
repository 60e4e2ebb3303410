#!/usr/bin/env bash
# glymmer --idle as the screen saver of an X11 session with no screen-saver
# daemon: the server's idle time (MIT-SCREEN-SAVER) on a private Xvfb, input
# from XTest (xdotool), the screen from glymmer-xshot.
#
#   tests/check_idle_x11.sh BUILD_DIR [SOURCE_DIR]
#
# With a delay of 2 s: the saver covers the screen (a red root window) only
# once the delay has passed; a key ends it, the next idle period brings it
# back, pointer travel ends that one; with another client holding the
# keyboard and pointer grabs, a key and pointer travel still end it (through
# the watcher), and the saver comes back after each idle period;
# XResetScreenSaver, as video players
# call it, keeps it away; a second watcher is refused (DISPLAY spelt either
# way), and so is one beside a running xscreensaver daemon; a session with no
# idle source is told what was looked for; kill -9 of the watcher leaves no
# saver; SIGTERM ends watcher and saver with status 0, and the setting
# options go on to the saver; without --after the stored delay counts; the X
# server killed ends the watcher with status 1.
set -euo pipefail
build=$(cd "$1" && pwd)
source_dir=$(cd "${2:-$(dirname "$0")/..}" && pwd)
glymmer=$build/app/glymmer
xshot=$build/tools/glymmer-xshot/glymmer-xshot

fail() { echo "FAIL: $*" >&2; [ -f "${log:-}" ] && tail -n 20 "$log" >&2; exit 1; }
. "$source_dir/tests/support/session.sh"
. "$source_dir/tests/support/idle.sh"
need_tools Xvfb xdotool xset xsetroot xscreensaver xscreensaver-command
need_built "$glymmer" "$xshot"

work=$(mktemp -d)
trap end_started EXIT
idle_home
# No session bus: the watcher finds no GNOME idle monitor.
export DBUS_SESSION_BUS_ADDRESS=unix:path=$work/no-bus
unset WAYLAND_DISPLAY

shot() { "$xshot"; }

# A session that offers nothing to watch is told what was looked for.
status=0
env -u DISPLAY "$glymmer" --idle >"$work/none.log" 2>&1 || status=$?
[ "$status" -eq 1 ] && grep -q "offers no idle source; looked for .*MIT-SCREEN-SAVER" "$work/none.log" ||
  fail "no idle source: status $status, $(cat "$work/none.log")"

start_xvfb 320x240
pids+=("$xvfb_pid")
xsetroot -solid red
wait_uncovered 0.9

# The saver comes once the delay has passed and covers the screen; a key
# ends it.
xdotool mousemove 10 10
saver_after_delay MIT-SCREEN-SAVER --fullscreen
xdotool key shift
wait_seen "the saver ended" 1
wait_uncovered 0.9
# After the next idle period it comes again; pointer travel ends it.
wait_seen "the saver starts" 2
wait_covered
xdotool mousemove_relative 40 30
wait_seen "the saver ended" 2
up=$(seen "the saver is up")

# A client holding the keyboard and pointer grabs (a virtual machine's
# viewer) keeps all input from the saver: the watcher ends it at the
# activity the server counts, a key or pointer travel, and the next idle
# period brings it back, grabs held all along.
"$xshot" --grab >"$work/grab.out" 2>&1 &
grabber=$!
pids+=("$grabber")
for _ in $(seq 100); do
  grep -q grabbed "$work/grab.out" && break
  sleep 0.1
done
grep -q grabbed "$work/grab.out" || fail "no grab: $(cat "$work/grab.out")"
for input in "key shift" "mousemove_relative 40 30"; do
  ended=$(seen "the saver ended")
  wait_seen "the saver starts" $((ended + 1))
  wait_covered
  # Input is the user's only once the session has settled after the
  # saver's appearance.
  wait_seen "the saver is up; activity ends it" $((up + 1))
  xdotool $input
  wait_seen "the saver ended" $((ended + 1))
  up=$(seen "the saver is up")
  wait_uncovered 0.9
done
kill "$grabber"

# A video player's XResetScreenSaver keeps the saver away, until it stops.
(while :; do xset s reset; sleep 0.5; done) &
player=$!
pids+=("$player")
sleep 5
[ "$(seen "the saver starts")" -eq 4 ] || fail "the saver came while XResetScreenSaver was called"
kill "$player"
wait_seen "the saver starts" 5

# One watcher per session, however DISPLAY spells the display (one not
# refused would run on: timeout ends it).
for display in "$DISPLAY" "unix$DISPLAY.0"; do
  status=0
  DISPLAY=$display timeout 20 "$glymmer" --idle --after 2 >"$work/second.log" 2>&1 || status=$?
  [ "$status" -eq 1 ] && grep -q "an idle watcher already runs on $DISPLAY\$" "$work/second.log" ||
    fail "a second watcher on $display was not refused (status $status): $(cat "$work/second.log")"
done

# kill -9 of the watcher takes its saver along.
kill_watcher
wait_uncovered 0.9

# SIGTERM ends the watcher and its saver, in order, with status 0. The
# setting options go on to the saver.
watch "$work/term.log" --glyphs 2000
wait_seen "view 1: OpenGL set up" 1
grep -q "view 1: settings: glyphs 2000," "$log" || fail "the saver did not get the watcher's settings"
end_watcher

# Beside a running xscreensaver daemon the watcher is refused: two savers
# would fight.
saver_file "glymmer --root" >"$HOME/.xscreensaver"
xscreensaver -no-splash >"$work/daemon.log" 2>&1 &
daemon=$!
pids+=("$daemon")
wait_for_daemon
status=0
"$glymmer" --idle --after 2 >"$work/daemon-refused.log" 2>&1 || status=$?
[ "$status" -eq 1 ] && grep -q "the xscreensaver daemon .* already runs" "$work/daemon-refused.log" ||
  fail "the watcher was not refused beside xscreensaver (status $status): $(cat "$work/daemon-refused.log")"
kill "$daemon"
wait "$daemon" 2>/dev/null || true

# The X server killed: the watcher ends, soon, with status 1 and one line.
# Without --after the watcher takes the stored delay.
# An X server that blanks the screen first is said once, --verbose or not.
printf '[glymmer]\nIdleDelay=7\n' >"$work/config/glymmer/glymmer.ini"
xset s 300
log=$work/killed.log
"$glymmer" --idle --verbose >"$log" 2>&1 &
watcher=$!
pids+=("$watcher")
wait_seen "idle watcher on" 1
grep -q "after 420 s" "$log" || fail "the stored delay of 7 minutes was not taken: $(cat "$log")"
[ "$(grep -c "The X server blanks the screen after 5 minutes, no later than Glymmer's 420 s" "$log")" -eq 1 ] ||
  fail "the watcher does not say once that the X server blanks first: $(cat "$log")"
disown "$xvfb_pid"
kill -KILL "$xvfb_pid"
wait_end "$watcher" 5 || fail "the watcher outlives its X server by 5 s"
[ "$status" -eq 1 ] || fail "the watcher ended with status $status when its X server died"
[ "$(grep -v "blanks the screen" "$log" | grep -c "X server\|XIO\|X connection")" -eq 1 ] && grep -q "the X server went away" "$log" ||
  fail "not one line when the X server died: $(cat "$log")"

echo "Idle watcher check on X11 passed"
