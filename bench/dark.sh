#!/usr/bin/env bash
# What a view costs while nothing of it can be seen: glymmer's cores in use
# (CPU seconds a second, from /proc) with one 320x240 view of 1000 letters,
# while it draws and then
# - on a private Xvfb, while the server's screen saver blanks the screen;
# - on a headless sway, while its output is on another workspace (the view
#   pauses), and after `output * dpms off` (sway 1.7 leaves a headless output
#   on and goes on asking for frames: the line says what sway reports);
# - on a headless mutter, where installed, while its PowerSaveMode is 3 (off).
#
#   bench/dark.sh BUILD_DIR [SECONDS]   (default 5)
set -euo pipefail

# measure NAME PID: the process's cores in use over `seconds`, a second after
# the change (set-up, the last frames).
measure() {
  sleep 1
  printf '%-44s %.3f cores\n' "$1" "$(cores_in_use "$2" "$seconds")"
}

if [ "${1:-}" = --mutter ]; then
  # In mutter's D-Bus session, as the session's user.
  glymmer=$2
  seconds=$3
  work=$4
  . "$(dirname "$0")/../tests/support/session.sh"
  . "$(dirname "$0")/../tests/support/idle.sh"
  fail() { echo "bench/dark.sh: $*" >&2; exit 1; }
  export WAYLAND_DISPLAY=glymmer-dark
  mutter --headless --wayland --no-x11 --virtual-monitor 320x240 --wayland-display "$WAYLAND_DISPLAY" \
    >"$work/mutter.log" 2>&1 &
  pids=($!)
  trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait' EXIT
  for _ in $(seq 100); do
    gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
      --method org.freedesktop.DBus.NameHasOwner org.gnome.Mutter.DisplayConfig 2>/dev/null |
      grep -q true && break
    sleep 0.1
  done
  log=$work/mutter-glymmer.log
  "$glymmer" --fullscreen --verbose --glyphs 1000 >"$log" 2>&1 &
  pids+=($!)
  wait_seen "OpenGL set up" 1 20
  measure "mutter, drawing" "${pids[1]}"
  gdbus call --session --dest org.gnome.Mutter.DisplayConfig --object-path /org/gnome/Mutter/DisplayConfig \
    --method org.freedesktop.DBus.Properties.Set org.gnome.Mutter.DisplayConfig PowerSaveMode '<3>' >/dev/null
  wait_seen "the screen is dark" 1
  measure "mutter, PowerSaveMode 3 (off)" "${pids[1]}"
  exit 0
fi

build=$(cd "$1" && pwd)
seconds=${2:-5}
source_dir=$(cd "$(dirname "$0")/.." && pwd)
glymmer=$build/app/glymmer

fail() { echo "bench/dark.sh: $*" >&2; exit 1; }
. "$source_dir/tests/support/session.sh"
. "$source_dir/tests/support/idle.sh"
. "$source_dir/tests/support/wayland.sh"
[ -x "$glymmer" ] || fail "build glymmer in $build first"

work=$(mktemp -d)
trap end_started EXIT
wayland_session 1000
export XDG_CONFIG_HOME=$work/config

echo "one 320x240 view, 1000 letters, ${seconds} s each"

start_xvfb 320x240
pids+=("$xvfb_pid")
log=$work/x11.log
env -u WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS=unix:path=$work/no-bus \
  "$glymmer" --fullscreen --verbose --glyphs 1000 >"$log" 2>&1 &
pids+=($!)
wait_seen "OpenGL set up" 1 20
measure "Xvfb, drawing" "${pids[-1]}"
xset s activate
wait_seen "the screen is dark" 1
measure "Xvfb, screen saver on (dark)" "${pids[-1]}"
xset s reset

echo "output HEADLESS-1 resolution 320x240" >"$work/bench.conf"
chmod 644 "$work/bench.conf"
start_sway bench WLR_BACKENDS=headless || fail "sway does not start"
log=$work/sway.log
run_as "$sway_display" env DBUS_SESSION_BUS_ADDRESS=unix:path=$work/no-bus \
  "$glymmer" --fullscreen --verbose --glyphs 1000 >"$log" 2>&1 &
pids+=($!)
wait_seen "OpenGL set up" 1 20
measure "sway, drawing" "${pids[-1]}"
msg "$sway_display" "$sway_socket" workspace 9
wait_seen "view 1 is hidden; it pauses" 1
measure "sway, on another workspace (paused)" "${pids[-1]}"
msg "$sway_display" "$sway_socket" workspace 1
wait_seen "view 1 is shown again" 1
msg "$sway_display" "$sway_socket" output '*' dpms off
dpms=$(as "$sway_display" env SWAYSOCK="$sway_socket" swaymsg -t get_outputs |
  sed -n 's/.*"dpms": \([a-z]*\).*/\1/p')
measure "sway, dpms off (sway says dpms $dpms)" "${pids[-1]}"

if command -v mutter >/dev/null; then
  mkdir -p "$work/gnome"
  chmod 700 "$work/gnome"
  [ ${#as_user[@]} -eq 0 ] || chown 65534:65534 "$work/gnome"
  env -u DISPLAY -u WAYLAND_DISPLAY -u DBUS_SESSION_BUS_ADDRESS XDG_RUNTIME_DIR="$work/gnome" \
    HOME="$work/home" GSETTINGS_BACKEND=memory "${as_user[@]}" \
    dbus-run-session -- bash "$0" --mutter "$glymmer" "$seconds" "$work/gnome"
else
  echo "mutter is not installed: its PowerSaveMode is not measured"
fi
