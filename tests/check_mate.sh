#!/usr/bin/env bash
# The installed theme entry under MATE's real screen saver, on a private Xvfb.
# Glymmer is installed as its package would be (prefix /usr, staged in a
# temporary folder) and shown over /usr in a private mount namespace: the
# daemon runs only programs in xscreensaver's hack folders, so a temporary
# prefix elsewhere would not do. The daemon runs in a D-Bus session of its
# own, its GSettings in a key file that gsettings writes, set to show only the
# theme "screensavers-glymmer" and not to lock. Told to activate, it must find
# Glymmer through its theme menu and run the hack with XSCREENSAVER_WINDOW
# naming its window; the screen must show the mosaic, lit and moving; a key
# press must deactivate the daemon and end glymmer.
#
#   tests/check_mate.sh BUILD_DIR [SOURCE_DIR]
#
# Needs root (for the mount namespace); the session runs as the user "nobody".
set -euo pipefail
build=$(cd "$1" && pwd)
source_dir=$(cd "${2:-$(dirname "$0")/..}" && pwd)
xshot=$build/tools/glymmer-xshot/glymmer-xshot

fail() { echo "FAIL: $*" >&2; [ -f "${log:-}" ] && tail -n 20 "$log" >&2; exit 1; }
. "$source_dir/tests/support/session.sh"
need_tools Xvfb mate-screensaver mate-screensaver-command dbus-run-session gsettings xdotool
need_built "$xshot"
if [ "$(id -u)" -ne 0 ] || ! unshare -m --propagation private true 2>/dev/null; then
  echo "not root or no private mount namespace: the staged install cannot be shown over /usr"
  exit 77
fi

work=$(mktemp -d)
session_pid=""
# The daemon ends first, so that dbus-run-session ends its bus itself.
end_session() {
  if [ -s "$work/run/daemon" ]; then
    kill "$(cat "$work/run/daemon")" 2>/dev/null || true
  fi
  if [ -n "$session_pid" ]; then
    for _ in $(seq 100); do kill -0 "$session_pid" 2>/dev/null || break; sleep 0.1; done
    kill "$session_pid" 2>/dev/null || true
    wait "$session_pid" 2>/dev/null || true
  fi
  end_started
}
trap end_session EXIT
chmod 755 "$work"

stage=$work/stage
DESTDIR=$stage cmake --install "$build" --prefix /usr >"$work/install.log" 2>&1 ||
  { cat "$work/install.log" >&2; fail "cmake --install failed (build everything first)"; }
hack=$(sed -n 's/^Exec=\(.*\) -root$/\1/p' "$stage/usr/share/applications/screensavers/glymmer.desktop")
[ -n "$hack" ] || fail "the theme entry has no Exec line with -root"

user=65534
as_user=(setpriv --reuid=$user --regid=$user --clear-groups --)
# The daemon gives its themes only a few variables (HOME, DISPLAY, PATH, the
# bus, XSCREENSAVER_WINDOW): glymmer keeps its defaults in ~/.config, where
# the GSettings key file is too, and the sanitizer pass's options do not
# reach it.
home=$work/home
bus=$work/run/bus  # written by the session's user
mkdir -p "$home" "$work/run"
chown -R "$user:$user" "$home" "$work/run"

start_xvfb 320x240
pids+=("$xvfb_pid")
# NO_AT_BRIDGE: no accessibility bus, which would outlive the session's bus.
session=(env -u XDG_CONFIG_HOME HOME="$home" GSETTINGS_BACKEND=keyfile NO_AT_BRIDGE=1
  DISPLAY="$DISPLAY")
as_session() { "${session[@]}" DBUS_SESSION_BUS_ADDRESS="$(cat "$bus")" "${as_user[@]}" "$@"; }

for setting in "mode single" "themes ['screensavers-glymmer']" "lock-enabled false"; do
  "${session[@]}" "${as_user[@]}" gsettings set org.mate.screensaver $setting ||
    fail "gsettings set $setting failed"
done

# The daemon in a bus session of its own, seeing the staged install over
# /usr; the bus address is kept for the commands, which must run in that
# session as the same user.
log=$work/mate-screensaver.log
"${session[@]}" unshare -m --propagation private sh -c '
  mount -t overlay overlay -o "lowerdir=$1/usr:/usr" /usr && shift && exec "$@"' \
  - "$stage" "${as_user[@]}" dbus-run-session -- bash -c \
  'echo $$ >"$1/daemon" && echo "$DBUS_SESSION_BUS_ADDRESS" >"$1/bus.tmp" && mv "$1/bus.tmp" "$1/bus" &&
  exec mate-screensaver --no-daemon --debug' - "$work/run" >"$log" 2>&1 &
session_pid=$!
wait_for() {  # SECONDS COMMAND...: until COMMAND succeeds
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.2
  done
}
answers() { [ -s "$bus" ] && as_session mate-screensaver-command --query >/dev/null 2>&1; }
wait_for 30 answers || fail "mate-screensaver does not answer"
as_session mate-screensaver-command --activate >/dev/null || fail "mate-screensaver-command --activate failed"

# The installed hack, run by the daemon in its window.
saver_pid() { pgrep -P "$(cat "$work/run/daemon")" -f "^$hack -root" | head -n 1; }
running() { [ -n "$(saver_pid)" ]; }
wait_for 30 running || fail "the daemon did not run $hack -root"
pid=$(saver_pid)
window=$(tr '\0' '\n' <"/proc/$pid/environ" | sed -n 's/^XSCREENSAVER_WINDOW=//p')
[[ "$window" =~ ^0x[0-9a-fA-F]+$ ]] || fail "glymmer has no XSCREENSAVER_WINDOW: '$window'"

wait_until_lit "$xshot"
first=$shot
is_lit "$first" || fail "the screen stays black: $first"
wait_until_moved "$first" "$xshot"
second=$moved
[ "$(hash_of "$first")" != "$(hash_of "$second")" ] || fail "the screen does not change"
is_lit "$second" || fail "the screen went black: $second"

# A key ends it: the daemon deactivates and stops glymmer.
xdotool key shift || fail "xdotool key failed"
inactive() { as_session mate-screensaver-command --query 2>/dev/null | grep -q 'is inactive'; }
wait_for 30 inactive || fail "the daemon did not deactivate at a key"
ended() { ! kill -0 "$pid" 2>/dev/null; }
wait_for 30 ended || fail "glymmer did not end"
echo "MATE check passed: $hack in window $window: $first; then $second"
