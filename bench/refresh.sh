#!/usr/bin/env bash
# The CPU glymmer costs on a display faster than its steps: as the
# xscreensaver hack (-root, defaults, 15000 letters) on a 1280x720 Xvfb whose
# RandR mode refreshes 60 times a second and then 144 times, on Mesa's no-op
# driver (GALLIUM_NOOP=1: the CPU side of a GPU driver, nothing drawn; on
# Wayland it commits no buffers, so the compositor would ask for no frames).
# Prints cores in use (CPU seconds a second, from /proc, after 3 s of
# start-up), frames a second and the scene's motion from frame to frame, and
# the ratio of the CPU at 144 Hz to that at 60 Hz.
#
#   bench/refresh.sh BUILD_DIR [--seconds N] [--rounds N]   (default 15 s, 1 round)
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
seconds=15
rounds=1
build=""
while [ $# -gt 0 ]; do
  case $1 in
    --seconds) seconds=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    *) build=$(cd "$1" && pwd); shift ;;
  esac
done
[ -n "$build" ] || { echo "usage: bench/refresh.sh BUILD_DIR [--seconds N] [--rounds N]" >&2; exit 2; }
fail() { echo "bench/refresh.sh: $*" >&2; exit 1; }
. "$source_dir/tests/support/session.sh"
command -v xrandr >/dev/null || fail "xrandr is not installed (x11-xserver-utils)"

hack_session 1280x720
# Modes of the same size whose pixel clocks give 60 and 144 refreshes a
# second (1650 x 750 pixels a refresh, blanking included).
xrandr --newmode 1280x720_60 74.25 1280 1390 1430 1650 720 725 730 750 >/dev/null
xrandr --newmode 1280x720_144 178.2 1280 1390 1430 1650 720 725 730 750 >/dev/null
for mode in 1280x720_60 1280x720_144; do xrandr --addmode screen "$mode"; done

# measure HZ: glymmer's cores in use at that refresh; sets `cores`.
measure() {
  local pid log=$work/run.log
  xrandr --output screen --mode "1280x720_$1"
  env HOME="$work/home" XDG_CONFIG_HOME="$work/config" GALLIUM_NOOP=1 \
    "$build/app/glymmer" -root --verbose ${EXTRA:-} >"$log" 2>&1 &
  pid=$!
  sleep 3
  cores=$(cores_in_use "$pid" "$seconds")
  kill -TERM "$pid"
  wait "$pid" 2>/dev/null || true
  printf '%4s Hz: %s cores, %s; %s\n' "$1" "$cores" \
    "$(grep -o '[0-9.]* frames per second' "$log" || true)" \
    "$(grep -o 'the scene moves [0-9.]* ms a frame, deviation [0-9.]* ms, most frames [0-9.]* ms' "$log" || echo "a frame at each step")"
}

echo "glymmer -root, Xvfb 1280x720, GALLIUM_NOOP=1, ${seconds} s each"
for _ in $(seq "$rounds"); do
  measure 60
  at60=$cores
  measure 144
  awk -v a="$cores" -v b="$at60" 'BEGIN { printf "144 Hz / 60 Hz: %.2f\n", (b > 0 ? a / b : 0) }'
done
