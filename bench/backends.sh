#!/usr/bin/env bash
# The window mode on each display system, side by side in one run: the frame
# rate glymmer's view achieves and the process's CPU time per frame (from its
# --verbose report), in a 320x240 window with 300 and with 15000 letters, on
# a private Xvfb (X11) and on a headless sway (Wayland). Mesa's software
# renderer draws both.
#
#   bench/backends.sh BUILD_DIR [SECONDS]   (default 10 per run)
set -euo pipefail
build=$(cd "$1" && pwd)
seconds=${2:-10}
source_dir=$(cd "$(dirname "$0")/.." && pwd)
glymmer=$build/app/glymmer

fail() { echo "bench/backends.sh: $*" >&2; exit 1; }
. "$source_dir/tests/support/session.sh"
. "$source_dir/tests/support/wayland.sh"
[ -x "$glymmer" ] || fail "build glymmer in $build first"

work=$(mktemp -d)
pids=()
xvfb_pid=""
cleanup() {
  local pid
  for pid in "${pids[@]}" $xvfb_pid; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

wayland_session 3000
start_xvfb 640x480
# The window floats, so it keeps the size asked for.
cat >"$work/bench.conf" <<EOF
output HEADLESS-1 resolution 640x480
for_window [app_id="glymmer"] floating enable
EOF
chmod 644 "$work/bench.conf"
start_sway bench WLR_BACKENDS=headless || fail "sway does not start"
wl=$sway_display

# run BACKEND GLYPHS: one run's "frames per second" and "ms CPU per frame".
run() {
  local log=$work/$1-$2.log
  if [ "$1" = wayland ]; then
    as "$wl" "$glymmer" --size 320x240 --glyphs "$2" --seconds "$seconds" --verbose >"$log" 2>&1
  else
    env -u WAYLAND_DISPLAY DISPLAY="$DISPLAY" HOME="$work/home" XDG_CONFIG_HOME="$work/config" \
      "${as_user[@]}" "$glymmer" --size 320x240 --glyphs "$2" --seconds "$seconds" --verbose \
      >"$log" 2>&1
  fi
  grep -q "OpenGL set up for 320x240" "$log" || fail "$1: the window is not 320x240: $(cat "$log")"
  local fps cpu
  fps=$(sed -n 's/.*view 1: .* s, \([0-9.]*\) frames per second.*/\1/p' "$log")
  cpu=$(sed -n 's/.*CPU time \([0-9.]*\) ms per frame.*/\1/p' "$log")
  printf '%-8s %6s letters  %6s frames/s  %6s ms CPU per frame\n' "$1" "$2" "$fps" "$cpu"
}

echo "glymmer window mode, 320x240, ${seconds} s per run"
for glyphs in 300 15000; do
  run x11 "$glyphs"
  run wayland "$glyphs"
done
