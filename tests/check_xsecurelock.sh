#!/usr/bin/env bash
# Glymmer as the saver of the real XSecureLock, on a private Xvfb:
#   XSECURELOCK_SAVER=<hack> xsecurelock
# The locker must run the hack as `<hack> -root` in a process group of its
# own, with XSCREENSAVER_WINDOW naming the locker's window, and that window
# must show the mosaic, moving. The locker's reset (SIGUSR1) ends the saver in
# order and the locker starts it again. A key then unlocks, and the saver must
# end in order with the locker: promptly, leaving no process, and with
# nothing on its standard error (where the sanitizers report too).
#
#   tests/check_xsecurelock.sh BUILD_DIR [SOURCE_DIR [HACK]]
#
# HACK is the installed hack (/usr/libexec/xscreensaver/glymmer); by default
# a link named like it leads to the build's glymmer. Unlocking needs a
# password the test does not have, so an authentication module that accepts
# at once stands in for XSecureLock's password prompt; the locker, its saver
# multiplexer and its handling of the saver are XSecureLock's own.
set -euo pipefail
build=$(cd "$1" && pwd)
source_dir=$(cd "${2:-$(dirname "$0")/..}" && pwd)
hack=${3:-}
xshot=$build/tools/glymmer-xshot/glymmer-xshot

fail() { echo "FAIL: $*" >&2; [ -f "${log:-}" ] && tail -n 20 "$log" >&2; exit 1; }
. "$source_dir/tests/support/session.sh"
need_tools Xvfb xsecurelock xdotool
[ -x "$xshot" ] || fail "build glymmer-xshot in $build first"

work=$(mktemp -d)
trap end_started EXIT

if [ -z "$hack" ]; then
  [ -x "$build/app/glymmer" ] || fail "build glymmer in $build first"
  hack=$work/glymmer
  ln -s "$build/app/glymmer" "$hack"
fi
program=$(readlink -f "$hack")
[ -x "$program" ] || fail "no hack at $hack"

# XSecureLock passes no options: the saver takes the stored preferences.
mkdir -p "$work/config/glymmer"
write_store "$work/config/glymmer/kvGlymmerSS.ini" "$source_dir/resources/pics/" 3000
printf '#!/bin/sh\nexit 0\n' >"$work/auth_accept"
chmod +x "$work/auth_accept"

start_xvfb 320x240
pids+=("$xvfb_pid")
log=$work/xsecurelock.log
# Without WAYLAND_DISPLAY: the locker refuses to lock the X11 side of a
# Wayland session.
env -u WAYLAND_DISPLAY XDG_CONFIG_HOME="$work/config" XSECURELOCK_SAVER="$hack" \
  XSECURELOCK_AUTH="$work/auth_accept" xsecurelock >"$log" 2>&1 &
locker=$!
pids+=("$locker")

# saver_other_than PID: waits up to 10 s for the locker's saver (its child's
# child running the program) other than PID; sets `saver`.
saver_other_than() {
  local _ m p
  saver=""
  for _ in $(seq 100); do
    for m in $(pgrep -P "$locker"); do
      for p in $(pgrep -P "$m"); do
        [ "$p" != "$1" ] && [ "$(readlink "/proc/$p/exe" 2>/dev/null)" = "$program" ] &&
          saver=$p && return 0
      done
    done
    kill -0 "$locker" 2>/dev/null || fail "xsecurelock ended"
    sleep 0.1
  done
  fail "xsecurelock started no saver $program"
}
window_of() { tr '\0' '\n' <"/proc/$1/environ" | sed -n 's/^XSCREENSAVER_WINDOW=//p'; }

# ---- The locker runs the hack in its window -------------------------------
saver_other_than none
first=$saver
pids+=("$first")
cmdline=$(tr '\0' ' ' <"/proc/$first/cmdline")
[ "$cmdline" = "$hack -root " ] || fail "the locker ran '$cmdline', expected '$hack -root'"
[ "$(ps -o pgid= -p "$first" | tr -d ' ')" = "$first" ] ||
  fail "the saver is not in a process group of its own"
window=$(window_of "$first")
[ -n "$window" ] || fail "the saver was not given XSCREENSAVER_WINDOW"
wait_until_lit "$xshot" --window "$window"
is_lit "$shot" || fail "the locker's window $window stays black: $shot"
[ "${shot%% *}" = 320x240 ] || fail "the locker's window is not the screen: $shot"
wait_until_moved "$shot" "$xshot" --window "$window"
[ "$(hash_of "$shot")" != "$(hash_of "$moved")" ] || fail "the mosaic does not move"

# ---- The locker's reset: the saver ends, the locker starts it again --------
kill -USR1 "$first"
saver_other_than "$first"
second=$saver
pids+=("$second")
kill -0 "$first" 2>/dev/null && fail "the saver outlived its reset"
window=$(window_of "$second")
wait_until_lit "$xshot" --window "$window"
is_lit "$shot" || fail "the restarted saver leaves the locker's window black: $shot"

# ---- A key unlocks; the saver ends in order with the locker -----------------
xdotool key space
status=0
for _ in $(seq 100); do
  kill -0 "$locker" 2>/dev/null || break
  sleep 0.1
done
wait "$locker" || status=$?
[ "$status" -eq 0 ] || fail "xsecurelock ended with $status after the key, expected 0"
# Well inside the saver's own grace (5 s): it stopped by itself, in order.
for _ in $(seq 40); do
  kill -0 "$second" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$second" 2>/dev/null && fail "the saver outlived the locker by 4 s"
left=$(pgrep -g "$second" || true)
[ -z "$left" ] || fail "processes of the saver's group are left: $left"
if grep -Ei "glymmer|sanitizer|runtime error|signal" "$log" >&2; then
  fail "the saver's run left the reports above"
fi
echo "xsecurelock check passed: $hack -root in window $window: $moved; reset and unlocked in order"
