#!/usr/bin/env bash
# glymmer on GNOME's own compositor: a real mutter, headless, with its idle
# monitor; input through its RemoteDesktop service, screenshots through its
# ScreenCast service (PipeWire, WirePlumber, GStreamer), all run as "nobody"
# under dbus-run-session, as a GNOME session would have them.
#
#   tests/check_idle_gnome.sh BUILD_DIR [SOURCE_DIR]
#
# - The idle source and the lock watch as the watcher sees them
#   (glymmer-gnome-helper watch): idle after the delay, active at a key, idle
#   again after the next idle period, locked when the desktop's screen
#   locker says so; GNOME's own blanking delay read from its settings.
# - Window mode: libdecor draws the title bar that mutter does not; nothing
#   is drawn while mutter has the monitors off (its PowerSaveMode); its close
#   button ends glymmer.
# - The watcher, `glymmer --idle --after 2`: the
#   saver (full screen, as mutter has no layer shell) covers the screen after
#   the delay; a key and pointer travel end it; it comes back after the next
#   idle period; a lock ends it; kill -9 of the watcher leaves no saver.
#   An idle period held back by gnome-session's inhibitor brings the saver
#   when the inhibitor goes, the user still away (gnome-session cannot run
#   here: tests/support/gnome_session.py stands in for it on the session bus,
#   with its own name, path, IsInhibited and inhibitor signals). mutter
#   restarts, as GNOME Shell on Xorg does: the watcher waits for its idle
#   monitor and shows the saver again.
#
# Exit status 77 (a skip) only where mutter is not installed.
set -euo pipefail
if [ "${1:-}" != --session ]; then
  build=$(cd "$1" && pwd)
  source_dir=$(cd "${2:-$(dirname "$0")/..}" && pwd)
  glymmer=$build/app/glymmer
  helper=$build/tools/glymmer-gnome-helper/glymmer-gnome-helper
  xshot=$build/tools/glymmer-xshot/glymmer-xshot
  fail() { echo "FAIL: $*" >&2; exit 1; }
  skip() { echo "SKIP: $*"; exit 77; }
  command -v mutter >/dev/null || skip "mutter is not installed (scripts/setup installs it)"
  . "$source_dir/tests/support/session.sh"
  need_tools dbus-run-session pipewire wireplumber gst-launch-1.0 gdbus gsettings
  need_built "$glymmer" "$helper" "$xshot"
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  chmod 755 "$work"
  mkdir -p "$work/runtime" "$work/home" "$work/config/glymmer" "$work/shots"
  chmod 700 "$work/runtime"
  write_store "$work/config/glymmer/kvGlymmerSS.ini" "$source_dir/resources/pics/" 3000
  share_suppressions
  as_user=()
  if [ "$(id -u)" -eq 0 ]; then
    as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups --)
    chown -R 65534:65534 "$work"
  fi
  status=0
  env -u DISPLAY -u WAYLAND_DISPLAY -u DBUS_SESSION_BUS_ADDRESS XDG_RUNTIME_DIR="$work/runtime" \
    HOME="$work/home" XDG_CONFIG_HOME="$work/config" GSETTINGS_BACKEND=keyfile NO_AT_BRIDGE=1 \
    "${as_user[@]}" dbus-run-session -- bash "$0" --session "$build" "$source_dir" "$work" ||
    status=$?
  [ -n "${KEEP_SHOTS:-}" ] && cp -r "$work/shots" "$KEEP_SHOTS"
  exit "$status"
fi

# In the session, as the user.
build=$2
source_dir=$3
work=$4
glymmer=$build/app/glymmer
helper=$build/tools/glymmer-gnome-helper/glymmer-gnome-helper
xshot=$build/tools/glymmer-xshot/glymmer-xshot
export WAYLAND_DISPLAY=glymmer-gnome
. "$source_dir/tests/support/session.sh"
pids=()
cleanup() {
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do wait "${pids[i]}" 2>/dev/null || true; done
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  for f in "$work"/*.log; do echo "--- $f" >&2; tail -n 8 "$f" >&2; done
  exit 1
}

# GNOME blanks the screen itself after a minute here.
gsettings set org.gnome.desktop.session idle-delay 60

pipewire >"$work/pipewire.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -S "$XDG_RUNTIME_DIR/pipewire-0" ] && break; sleep 0.1; done
wireplumber >"$work/wireplumber.log" 2>&1 &
pids+=($!)
# start_mutter: mutter, its idle monitor on the bus, and the user: keys,
# pointer and screenshots, over one held RemoteDesktop session.
start_mutter() {
  MUTTER_DEBUG_RESET_IDLETIME=1 mutter --headless --wayland --no-x11 --virtual-monitor 800x600 \
    --wayland-display "$WAYLAND_DISPLAY" >>"$work/mutter.log" 2>&1 &
  mutter_pid=$!
  pids+=("$mutter_pid")
  for _ in $(seq 100); do
    [ -S "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" ] &&
      gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
        --method org.freedesktop.DBus.NameHasOwner org.gnome.Mutter.IdleMonitor 2>/dev/null |
      grep -q true && break
    sleep 0.1
  done
  [ -S "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" ] || fail "mutter did not start"
  { coproc user { "$helper" serve 2>>"$work/user.log"; }; } 2>/dev/null
  pids+=("$user_PID")
  # Devices appear with their first event, as a keyboard plugged in would.
  do_ key
}
do_() { ask user "$@"; }
start_mutter
# shot NAME [X,Y,W,H]: glymmer-xshot's line for a screenshot of the monitor.
shot() {
  do_ shot "$work/shots/$1.png"
  "$xshot" --file "$work/shots/$1.png" ${2:+--region "$2"}
}
field() { sed -n "s/.* $1=\([0-9a-f.]*\).*/\1/p" <<<"$2"; }
below() { awk -v v="$(field "$1" "$2")" -v t="$3" 'BEGIN { exit !(v < t) }'; }
above() { awk -v v="$(field "$1" "$2")" -v t="$3" 'BEGIN { exit !(v > t) }'; }

# The idle source and lock watch; lines of its output are taken in order.
"$helper" watch 2000 >"$work/watch.out" 2>"$work/watch.log" &
watch_pid=$!
pids+=("$watch_pid")
taken=0
# next LINE SECONDS: until the watch's next line but "inhibited ..." is LINE.
next() {
  local _ line
  for _ in $(seq $(($2 * 10))); do
    while line=$(sed -n "$((taken + 1))p" "$work/watch.out") && [ -n "$line" ]; do
      taken=$((taken + 1))
      [[ "$line" == inhibited* ]] && continue
      [ "$line" = "$1" ] && return 0
      fail "the watch said \"$line\" where \"$1\" was due"
    done
    sleep 0.1
  done
  fail "the watch did not say \"$1\" in $2 s"
}
next "blanking 60" 5
next watching 5
grep -q "no gnome-session" "$work/watch.log" || fail "the watch does not say that no gnome-session runs"
next idle 5
do_ key
next active 3
next idle 5
do_ move 5 5
next active 3
gdbus emit --session --object-path /org/gnome/ScreenSaver \
  --signal org.gnome.ScreenSaver.ActiveChanged true >/dev/null
next locked 3

# Window mode: libdecor's title bar above the mosaic (mutter makes a window
# as large as the monitor fill it); its close button ends glymmer.
"$glymmer" --verbose >"$work/window.log" 2>&1 &
window_pid=$!
pids+=("$window_pid")
for _ in $(seq 100); do grep -qs "OpenGL set up for" "$work/window.log" && break; sleep 0.1; done
grep -qs "OpenGL set up for" "$work/window.log" || fail "the window does not draw"
sleep 1
first=$(shot window)
second=$(shot window-again)
[ "$(field hash "$first")" != "$(field hash "$second")" ] || fail "the window's mosaic does not move"
bar=$("$xshot" --file "$work/shots/window.png" --region 0,0,800,24)
[ "$(field hash "$bar")" = "$(field hash "$("$xshot" --file "$work/shots/window-again.png" \
  --region 0,0,800,24)")" ] || fail "no still title bar above the moving mosaic"
above lit "$bar" 0.02 || fail "the title bar shows nothing: $bar"
mosaic=$("$xshot" --file "$work/shots/window.png" --region 0,60,800,500)
below lit "$mosaic" 0.9 || fail "the mosaic is not in the window: $mosaic"
# mutter putting the monitors to sleep, as GNOME's blanking does: nothing is
# drawn until they are on again (headless mutter still asks for frames).
power_save() {
  gdbus call --session --dest org.gnome.Mutter.DisplayConfig --object-path \
    /org/gnome/Mutter/DisplayConfig --method org.freedesktop.DBus.Properties.Set \
    org.gnome.Mutter.DisplayConfig PowerSaveMode "<$1>" >/dev/null
}
so_far() { sed -n "s/.*the screen is $1.*(\([0-9]*\) frames so far)/\1/p" "$work/window.log"; }
power_save 3
for _ in $(seq 100); do [ -n "$(so_far dark)" ] && break; sleep 0.1; done
[ -n "$(so_far dark)" ] || fail "the window did not see mutter put the monitors off"
sleep 1
power_save 0
for _ in $(seq 100); do [ -n "$(so_far "lit again")" ] && break; sleep 0.1; done
[ -n "$(so_far "lit again")" ] || fail "the window does not see the monitors on again"
[ "$(so_far dark)" = "$(so_far "lit again")" ] ||
  fail "frames were drawn while the monitors were off: $(so_far dark), then $(so_far "lit again")"
# The close button, at the title bar's right end: the pointer goes to the
# monitor's top right corner, then onto the button.
do_ move 2000 -2000
do_ move -16 12
do_ click
for _ in $(seq 50); do kill -0 "$window_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$window_pid" 2>/dev/null && fail "the title bar's close button does not end glymmer"
wait "$window_pid" || fail "glymmer ended with status $? after its close button"

# The watcher.
background=$(shot desktop)
# saver_up SECONDS: until a full-screen saver runs under the watcher and
# covers the screen; sets saver_pid.
saver_up() {
  local _ s=""
  saver_pid=""
  for _ in $(seq $(($1 * 5))); do
    saver_pid=$(pgrep -P "$watcher_pid" -f -- '--fullscreen' | head -n 1 || true)
    if [ -n "$saver_pid" ]; then
      s=$(shot saver)
      below lit "$s" 0.9 && return 0
    fi
    sleep 0.2
  done
  fail "the watcher did not show the saver in $1 s (${saver_pid:+saver $saver_pid, }$s)"
}
# saver_gone SECONDS: until the saver has ended and the desktop shows again.
saver_gone() {
  local _
  for _ in $(seq $(($1 * 10))); do
    kill -0 "$saver_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$saver_pid" 2>/dev/null && fail "$2 does not end the saver"
  # mutter may still animate the windows' end for a moment.
  for _ in $(seq 10); do
    [ "$(field hash "$(shot after)")" = "$(field hash "$background")" ] && return 0
    sleep 0.3
  done
  fail "the desktop is not as it was after $2 ended the saver"
}
do_ key
"$glymmer" --idle --after 2 --verbose >"$work/watcher.log" 2>&1 &
watcher_pid=$!
pids+=("$watcher_pid")
saver_up 10
grep -q "org.gnome.Mutter.IdleMonitor" "$work/watcher.log" ||
  fail "the watcher does not say that it watches GNOME's idle monitor"
do_ key
saver_gone 3 "a key"
saver_up 10
# A hand on the mouse moves it more than once: the first motion that reaches
# the saver, on a loaded machine its pointer's entry, is where travel counts from.
for _ in 1 2 3 4 5; do
  do_ move 20 15
  sleep 0.3
  kill -0 "$saver_pid" 2>/dev/null || break
done
saver_gone 3 "pointer travel"
saver_up 10
gdbus emit --session --object-path /org/gnome/ScreenSaver \
  --signal org.gnome.ScreenSaver.ActiveChanged true >/dev/null
saver_gone 3 "the screen locker"
# A key at the lock screen, then idle under it: no saver; after the unlock,
# the next idle period brings it.
do_ key
sleep 3
pgrep -P "$watcher_pid" >/dev/null && fail "a saver started while the session was locked"
grep -q "but the session is locked" "$work/watcher.log" ||
  fail "the watcher does not say that it held the saver back under the lock"
gdbus emit --session --object-path /org/gnome/ScreenSaver \
  --signal org.gnome.ScreenSaver.ActiveChanged false >/dev/null
do_ key
saver_up 10
kill -KILL "$watcher_pid"
saver_gone 3 "the watcher's end"

# An inhibitor (a video playing) holds the idle period back; it goes while
# the user is still away, and the saver comes.
{ coproc session { exec /usr/bin/python3 -B "$source_dir/tests/support/gnome_session.py" \
  2>"$work/session.log"; }; } 2>/dev/null
pids+=("$session_PID")
read -r -t 10 -u "${session[0]}" ready && [ "$ready" = ready ] ||
  fail "the stand-in gnome-session did not start"
ask session inhibit
do_ key
"$glymmer" --idle --after 2 --verbose >"$work/watcher.log" 2>&1 &
watcher_pid=$!
pids+=("$watcher_pid")
for _ in $(seq 100); do grep -q "an inhibitor holds the session" "$work/watcher.log" && break; sleep 0.1; done
grep -q "an inhibitor holds the session" "$work/watcher.log" ||
  fail "the watcher did not hold the saver back for the inhibitor"
ask session uninhibit
saver_up 10

# mutter restarts, as GNOME Shell on Xorg does (Alt+F2 r, or after a crash):
# its idle monitor goes with the saver and comes back; the watcher waits for it.
kill "$mutter_pid"
wait "$mutter_pid" || true
kill "$user_PID" 2>/dev/null || true
wait "$user_PID" 2>/dev/null || true
start_mutter
saver_up 10
kill -0 "$watcher_pid" 2>/dev/null || fail "the watcher ended when mutter restarted"
echo "PASS"
