#!/usr/bin/env bash
# glymmer --idle as the screen saver of KDE Plasma's compositor: kwin_wayland
# on a virtual output (no GPU: llvmpipe), under a session bus of its own; the
# watcher takes ext-idle-notify-v1 there and the saver layer. Keys and pointer
# come from KWin's fake input, screenshots from its ScreenShot2 service.
#
#   tests/check_idle_kwin.sh BUILD_DIR [SOURCE_DIR]
#
# With a delay of 2 s: the saver covers a window only once the delay has
# passed; a key ends it, the next idle period brings it back, pointer travel
# ends that one; a window holding an idle inhibitor keeps it away; kill -9 of
# the watcher leaves no saver; SIGTERM ends watcher and saver with status 0;
# KWin's screen locker ends the saver and keeps it away; the compositor
# killed ends the watcher with status 1.
#
# Run as root, KWin and every client run as "nobody". Exit status 77 (a skip)
# only where KWin cannot start at all.
set -euo pipefail
build=$(cd "$1" && pwd)
source_dir=$(cd "${2:-$(dirname "$0")/..}" && pwd)
glymmer=$build/app/glymmer
helper=$build/tools/glymmer-wl-helper/glymmer-wl-helper
xshot=$build/tools/glymmer-xshot/glymmer-xshot

fail() { echo "FAIL: $*" >&2; [ -f "${log:-}" ] && tail -n 20 "$log" >&2; exit 1; }
skip() { echo "SKIP: $*"; exit 77; }
. "$source_dir/tests/support/session.sh"
. "$source_dir/tests/support/wayland.sh"
. "$source_dir/tests/support/idle.sh"
command -v kwin_wayland >/dev/null || skip "kwin_wayland is not installed (scripts/setup installs it)"
need_tools dbus-run-session
need_built "$glymmer" "$helper" "$xshot"

work=$(mktemp -d)
trap end_started EXIT
wayland_session 3000
share_suppressions

shot() { as "$wl" "$xshot" --kwin 2>/dev/null; }

# KWin under a session bus of its own. Debian's kwin_wayland carries a file
# capability that some containers refuse to run; a copy carries none.
cp "$(command -v kwin_wayland)" "$work/kwin_wayland"
wl=glymmer-idle
cat >"$work/kwin.sh" <<EOF
echo \$\$ >"$runtime/kwin.pid"
echo "\$DBUS_SESSION_BUS_ADDRESS" >"$runtime/bus"
exec "$work/kwin_wayland" --virtual --width 320 --height 240 --socket $wl
EOF
chmod 755 "$work/kwin.sh"
env -u DISPLAY -u WAYLAND_DISPLAY -u DBUS_SESSION_BUS_ADDRESS HOME="$work/home" \
  XDG_RUNTIME_DIR="$runtime" KWIN_WAYLAND_NO_PERMISSION_CHECKS=1 \
  KWIN_SCREENSHOT_NO_PERMISSION_CHECKS=1 "${as_user[@]}" \
  dbus-run-session -- bash "$work/kwin.sh" >"$work/kwin.log" 2>&1 &
pids+=($!)
for _ in $(seq 300); do
  [ -S "$runtime/$wl" ] && [ -s "$runtime/bus" ] && break
  sleep 0.1
done
[ -S "$runtime/$wl" ] && [ -s "$runtime/bus" ] ||
  skip "kwin_wayland cannot start here: $(tail -n 3 "$work/kwin.log" | tr '\n' ' ')"
export DBUS_SESSION_BUS_ADDRESS
DBUS_SESSION_BUS_ADDRESS=$(cat "$runtime/bus")
kwin_pid=$(cat "$runtime/kwin.pid")
pids+=("$kwin_pid")
run_as "$wl" "$helper" window ff0000 &
pids+=($!)
wait_uncovered

# The saver after the delay, over the window; a key and pointer travel end
# it; an idle inhibitor keeps it away.
idle_cycle "ext-idle-notify-v1" "$helper" key

# kill -9 of the watcher takes its saver along.
kill_watcher
wait_uncovered

# SIGTERM ends the watcher and its saver, in order, with status 0.
watch "$work/term.log"
wait_seen "view 1: OpenGL set up" 1
end_watcher

# KWin's own screen locker: locking ends the saver, and idle under the lock
# screen starts none (there is no password to unlock it again here).
watch "$work/lock.log"
wait_seen "the saver starts" 1
pid=$(saver)
as "$wl" dbus-send --session --type=method_call --dest=org.freedesktop.ScreenSaver \
  /ScreenSaver org.freedesktop.ScreenSaver.Lock
wait_seen "the session locked; the saver ends" 1
wait_gone "$pid" 8 || fail "the saver outlives the session's lock"
as "$wl" "$helper" key
wait_seen "but the session is locked" 1 5
[ "$(seen "the saver starts")" -eq 1 ] || fail "a saver started under the lock screen"
kill -TERM "$watcher"
wait_end "$watcher" 10 || fail "SIGTERM does not end the watcher"

# The compositor killed: the watcher ends, soon, with status 1 and one line.
watch "$work/killed.log"
wait_seen "idle watcher on" 1
kill -KILL "$kwin_pid"
wait_end "$watcher" 5 || fail "the watcher outlives its compositor by 5 s"
[ "$status" -eq 1 ] || fail "the watcher ended with status $status when its compositor died"
grep -q "the Wayland compositor went away" "$log" || fail "no line when the compositor died"

echo "Idle watcher check on KWin passed"
