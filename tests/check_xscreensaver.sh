#!/usr/bin/env bash
# glymmer under the real xscreensaver daemon: on a private Xvfb, a fresh home
# whose ~/.xscreensaver lists glymmer as the only hack, the daemon is started
# and told to blank the screen; the screen must then show glymmer's mosaic
# (not black, and moving), and stopping the daemon must end glymmer in order.
#
#   tests/check_xscreensaver.sh BUILD_DIR [SOURCE_DIR] [SCREENSHOT.png [SECONDS]]
#
# SCREENSHOT.png keeps the second screenshot, taken SECONDS (default 0.5)
# after the first one showed the mosaic, for a person to look at.
#
# Run as root, the daemon and its hack run as the user "nobody", since
# xscreensaver launches no hacks for root. Needs Xvfb, xscreensaver and the
# build's glymmer and glymmer-xshot.
set -euo pipefail
build=$(cd "$1" && pwd)
source_dir=$(cd "${2:-$(dirname "$0")/..}" && pwd)
screenshot=${3:-}
pause=${4:-0.5}
glymmer=$build/app/glymmer
xshot=$build/tools/glymmer-xshot/glymmer-xshot

fail() { echo "FAIL: $*" >&2; [ -f "${log:-}" ] && tail -n 20 "$log" >&2; exit 1; }
. "$source_dir/tests/support/session.sh"
for tool in Xvfb xscreensaver xscreensaver-command; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/setup installs it)"
done
[ -x "$glymmer" ] && [ -x "$xshot" ] || fail "build glymmer and glymmer-xshot in $build first"

work=$(mktemp -d)
xvfb_pid=""
saver_pid=""
cleanup() {
  if [ -n "$saver_pid" ] && kill -0 "$saver_pid" 2>/dev/null; then
    kill "$saver_pid" 2>/dev/null || true
    wait "$saver_pid" 2>/dev/null || true
  fi
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# The daemon's user: ourselves, or "nobody" for root.
as_user=()
if [ "$(id -u)" -eq 0 ]; then
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups --)
fi
home=$work/home
config=$work/config
mkdir -p "$home" "$config/glymmer"
write_store "$config/glymmer/kvGlymmerSS.ini" "$source_dir/resources/pics/" 3000
saver_file "$glymmer -root --verbose" >"$home/.xscreensaver"
chmod 755 "$work"
[ ${#as_user[@]} -eq 0 ] || chown -R 65534:65534 "$home" "$config"

start_xvfb 320x240

log=$work/xscreensaver.log
env HOME="$home" XDG_CONFIG_HOME="$config" DISPLAY="$DISPLAY" "${as_user[@]}" \
  xscreensaver --no-splash --verbose >"$log" 2>&1 &
saver_pid=$!
wait_for_daemon
xscreensaver-command -activate >/dev/null || fail "xscreensaver-command -activate failed"

# Wait for the mosaic to fill in, then two screenshots apart.
wait_until_lit "$xshot"
first=$shot
grep -q "glymmer: view 1: .* in window" "$log" || fail "the daemon did not start glymmer"
is_lit "$first" || fail "the screen stays black: $first"
sleep "$pause"
wait_until_moved "$first" "$xshot" ${screenshot:+--png "$screenshot"}
second=$moved
[ -n "$second" ] || fail "cannot read the screen"
[ "$(hash_of "$first")" != "$(hash_of "$second")" ] || fail "the screen does not change"
is_lit "$second" || fail "the screen went black: $second"

# Stopping the daemon stops glymmer with SIGTERM; it ends in order.
xscreensaver-command -exit >/dev/null 2>&1 || true
for _ in $(seq 100); do
  kill -0 "$saver_pid" 2>/dev/null || break
  sleep 0.1
done
for _ in $(seq 50); do
  grep -q "glymmer: view 1 destroyed" "$log" && break
  sleep 0.1
done
grep -q "glymmer: view 1 destroyed" "$log" || fail "glymmer did not end in order"
echo "xscreensaver check passed: $first; then $second"
