#!/usr/bin/env bash
# Nothing drawn for a dark screen, fewer frames to save power: glymmer in a
# window on a private Xvfb, with a stand-in power-profiles-daemon on a private
# system bus (tests/support/power_profiles.py: its real name, path and
# property; the machine's daemon cannot be switched here).
#
#   tests/check_dark.sh BUILD_DIR [SOURCE_DIR]
#
# In the power-saver profile a view draws at most 30 frames a second, and more
# again once it is off; while the X server's own screen saver blanks the
# screen, or mutter has the monitors off, no frame is drawn until it is lit.
# (Neither Xvfb nor Xorg's dummy driver has DPMS.)
set -euo pipefail
build=$(cd "$1" && pwd)
source_dir=$(cd "${2:-$(dirname "$0")/..}" && pwd)
glymmer=$build/app/glymmer

fail() { echo "FAIL: $*" >&2; [ -f "${log:-}" ] && tail -n 20 "$log" >&2; exit 1; }
. "$source_dir/tests/support/session.sh"
. "$source_dir/tests/support/idle.sh"
need_tools Xvfb xset dbus-daemon
/usr/bin/python3 -c 'from gi.repository import Gio' 2>/dev/null ||
  fail "python3-gi is not installed (scripts/setup installs it)"
need_built "$glymmer"

work=$(mktemp -d)
trap end_started EXIT
idle_home
dbus-daemon --session --nofork --address="unix:path=$work/system-bus" >/dev/null 2>&1 &
pids+=($!)
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$work/system-bus
for _ in $(seq 100); do [ -S "$work/system-bus" ] && break; sleep 0.1; done
coproc profiles { exec /usr/bin/python3 -B "$source_dir/tests/support/power_profiles.py" power-saver; }
pids+=("$profiles_PID")
read -r -t 10 -u "${profiles[0]}" ready && [ "$ready" = ready ] || fail "the stand-in daemon did not start"
start_xvfb 320x240
pids+=("$xvfb_pid")

# The power-saver profile: at most 30 frames a second (the first second may
# come before the profile is known).
log=$work/saver.log
"$glymmer" --verbose --seconds 6 --glyphs 1000 >"$log" 2>&1 || fail "glymmer failed"
grep -q "the power-saver profile is on: at most 30 frames a second" "$log" ||
  fail "the power-saver profile was not seen"
rate=$(sed -n 's/.*view 1: .* frames in .* s, \([0-9.]*\) frames per second/\1/p' "$log")
awk -v r="$rate" 'BEGIN { exit !(r > 0 && r <= 40) }' || fail "$rate frames a second in the power-saver profile"

# The server's screen saver on: no frame until it is off; then the profile
# goes back to balanced.
log=$work/dark.log
"$glymmer" --verbose --seconds 60 --glyphs 1000 >"$log" 2>&1 &
glymmer_pid=$!
pids+=("$glymmer_pid")
wait_seen "OpenGL set up" 1 20
xset s activate
wait_seen "the screen is dark; nothing is drawn until it is lit" 1
sleep 1
xset s reset
wait_seen "the screen is lit again" 1
dark=$(sed -n 's/.*the screen is dark.*(\([0-9]*\) frames so far)/\1/p' "$log")
lit=$(sed -n 's/.*the screen is lit again (\([0-9]*\) frames so far)/\1/p' "$log")
[ -n "$dark" ] && [ "$dark" = "$lit" ] || fail "frames were drawn while the screen was dark: $dark, then $lit"
ask profiles profile balanced
wait_seen "the power-saver profile is off" 1
kill "$glymmer_pid"
wait_end "$glymmer_pid" 10 || fail "glymmer did not end at SIGTERM"

# GNOME on Xorg: mutter's PowerSaveMode darkens the screen as DPMS would,
# also when mutter starts after glymmer (GNOME Shell restarting), and a
# mutter that ends with the monitors off leaves them to the X server. A
# headless mutter on a session bus of the check's own is the real service; as
# root, it, its bus and glymmer run as "nobody".
if command -v mutter >/dev/null && command -v gdbus >/dev/null; then
  as_user=()
  [ "$(id -u)" -eq 0 ] && as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups --)
  chmod 755 "$work"
  share_suppressions
  mkdir -p "$work/gnome"
  chmod 700 "$work/gnome"
  [ ${#as_user[@]} -eq 0 ] || chown -R 65534:65534 "$work/gnome" "$work/home" "$work/config"
  export DBUS_SESSION_BUS_ADDRESS=unix:path=$work/gnome/bus
  "${as_user[@]}" dbus-daemon --session --nofork --address="$DBUS_SESSION_BUS_ADDRESS" >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do [ -S "$work/gnome/bus" ] && break; sleep 0.1; done
  log=$work/gnome.log
  "${as_user[@]}" "$glymmer" --verbose --seconds 60 --glyphs 1000 >"$log" 2>&1 &
  glymmer_pid=$!
  pids+=("$glymmer_pid")
  wait_seen "OpenGL set up" 1 20
  env -u DISPLAY XDG_RUNTIME_DIR="$work/gnome" GSETTINGS_BACKEND=memory "${as_user[@]}" \
    mutter --headless --wayland --no-x11 --virtual-monitor 640x480 \
    --wayland-display glymmer-dark >"$work/mutter.log" 2>&1 &
  mutter_pid=$!
  pids+=("$mutter_pid")
  gnome() { "${as_user[@]}" gdbus call --session "$@" 2>/dev/null; }
  for _ in $(seq 100); do
    gnome --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
      --method org.freedesktop.DBus.NameHasOwner org.gnome.Mutter.DisplayConfig | grep -q true && break
    sleep 0.1
  done
  power_save() {
    gnome --dest org.gnome.Mutter.DisplayConfig --object-path /org/gnome/Mutter/DisplayConfig \
      --method org.freedesktop.DBus.Properties.Set org.gnome.Mutter.DisplayConfig PowerSaveMode \
      "<$1>" >/dev/null || fail "mutter does not take PowerSaveMode $1: $(tail -n 3 "$work/mutter.log")"
  }
  power_save 3
  wait_seen "the screen is dark; nothing is drawn until it is lit" 1
  sleep 1
  kill "$mutter_pid"
  wait_seen "the screen is lit again" 1
  dark=$(sed -n 's/.*the screen is dark.*(\([0-9]*\) frames so far)/\1/p' "$log")
  lit=$(sed -n 's/.*the screen is lit again (\([0-9]*\) frames so far)/\1/p' "$log")
  [ -n "$dark" ] && [ "$dark" = "$lit" ] ||
    fail "frames were drawn while mutter had the monitors off: $dark, then $lit"
  kill "$glymmer_pid"
  wait_end "$glymmer_pid" 10 || fail "glymmer did not end at SIGTERM"
else
  echo "mutter is not installed: its PowerSaveMode on X11 is not checked"
fi

echo "Dark screen and power-saver check passed"
