#!/usr/bin/env bash
# How glymmer's frames meet a display: glymmer full screen on a headless
# compositor (one 320x240 output at 60 Hz), with 3000 and with 15000
# letters, its commits logged by WAYLAND_DEBUG and replayed by bench_pacing
# against an ideal 60 Hz display: frames a second, and the refreshes that
# show a new frame, show the last one again, the frames never shown, and the
# frames shown for another number of refreshes than the one before (judder).
# Beside it a window in step with the display (glymmer-wl-helper ... paced)
# and, where installed, es2gears_wayland (mesa-utils-extra).
#
# The compositor is mutter's headless virtual monitor, whose refresh keeps
# to 60 Hz on average; without mutter, sway's headless output, whose timer
# of whole milliseconds gives about 62 Hz instead (a display the replay's
# 60 Hz does not match: even the window in step with it shows drops there).
#
# With --refresh HZ, sway's output refreshes HZ times a second, and the
# replay's display as often: 144 shows the frames drawn between steps.
#
#   bench/pacing.sh BUILD_DIR [OTHER_BUILD_DIR...] [--seconds N] [--refresh HZ]
#                                                    (default 10 s; mutter's 60 Hz)
#
# Each glymmer named (another build's, say that of the commit before a
# change) runs in the same session, one after another. GLYMMER_ARGS adds
# options to each glymmer (--verbose, say); KEEP_LOG=PREFIX keeps each run's
# log as PREFIX.<time>.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
seconds=10
hertz=""
builds=()
while [ $# -gt 0 ]; do
  case $1 in
    --seconds) seconds=$2; shift 2 ;;
    --refresh) hertz=$2; shift 2 ;;
    *) builds+=("$(cd "$1" && pwd)"); shift ;;
  esac
done
if [ ${#builds[@]} -eq 0 ]; then
  echo "usage: bench/pacing.sh BUILD_DIR [OTHER_BUILD_DIR...] [--seconds N]" >&2
  exit 2
fi
build=${builds[0]}
replay=$build/bench/bench_pacing
helper=$build/tools/glymmer-wl-helper/glymmer-wl-helper

fail() { echo "bench/pacing.sh: $*" >&2; exit 1; }
. "$source_dir/tests/support/session.sh"
. "$source_dir/tests/support/wayland.sh"
for program in "$replay" "$helper"; do [ -x "$program" ] || fail "build $program first"; done

work=$(mktemp -d)
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

wayland_session 3000
if [ -z "$hertz" ] && command -v mutter >/dev/null && command -v dbus-run-session >/dev/null; then
  compositor="mutter, headless, one 320x240 virtual monitor"
  wl=wayland-bench
  env -u DISPLAY HOME="$work/home" XDG_RUNTIME_DIR="$runtime" "${as_user[@]}" dbus-run-session -- \
    mutter --headless --virtual-monitor 320x240 --wayland --no-x11 --wayland-display "$wl" \
    >"$work/mutter.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do [ -S "$runtime/$wl" ] && break; sleep 0.1; done
  [ -S "$runtime/$wl" ] || fail "mutter does not start: $(tail -n 3 "$work/mutter.log")"
else
  compositor="sway, headless, one 320x240 output${hertz:+ at $hertz Hz}"
  echo "output HEADLESS-1 mode --custom 320x240@${hertz:-60}Hz" >"$work/bench.conf"
  chmod 644 "$work/bench.conf"
  start_sway bench WLR_BACKENDS=headless WLR_HEADLESS_OUTPUTS=1 || fail "sway does not start"
  wl=$sway_display
fi

# show NAME COMMAND...: runs a client for `seconds` with WAYLAND_DEBUG and
# prints the replay of its frames.
show() {
  local name=$1 log=$work/run.log
  shift
  (run_as "$wl" env WAYLAND_DEBUG=1 timeout "$seconds" "$@" >/dev/null 2>"$log") || true
  [ -n "${KEEP_LOG:-}" ] && cp "$log" "$KEEP_LOG.$(date +%s%N)"
  printf '%-34s %s\n' "$name" "$("$replay" "$log" 2 "${hertz:-60}" 2>&1)"
}

echo "$compositor, ${seconds} s a run"
show "window in step with the display" "$helper" window 00ff00 paced
command -v es2gears_wayland >/dev/null && show "es2gears_wayland" es2gears_wayland
for glyphs in 3000 15000; do
  for b in "${builds[@]}"; do
    show "$(basename "$b") glymmer, $glyphs letters" "$b/app/glymmer" --fullscreen --glyphs "$glyphs" ${GLYMMER_ARGS:-}
  done
done
