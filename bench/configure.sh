#!/usr/bin/env bash
# What the settings dialog costs: how long `glymmer --configure` takes from
# its start until its window is on screen (the median of RUNS starts), and
# the CPU time the dialog takes while it sits in view with its live preview
# running (15000 letters, the built-in pictures), over SECONDS, on a private
# Xvfb with Mesa's software renderer. PROGRAM, by default the build's
# glymmer, lets an earlier build be timed the same way.
#
#   bench/configure.sh BUILD_DIR [SECONDS [RUNS [PROGRAM]]]   (default 10, 9)
set -euo pipefail
build=$(cd "$1" && pwd)
seconds=${2:-10}
runs=${3:-9}
glymmer=${4:-$build/app/glymmer}
source_dir=$(cd "$(dirname "$0")/.." && pwd)

fail() { echo "bench/configure.sh: $*" >&2; exit 1; }
. "$source_dir/tests/support/session.sh"
[ -x "$glymmer" ] || fail "build glymmer in $build first"
need_tools xdotool

work=$(mktemp -d)
trap end_started EXIT
start_xvfb 1280x800
pids+=("$xvfb_pid")
export NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory XDG_CONFIG_HOME="$work/config"
mkdir -p "$work/config/glymmer"
write_store "$work/config/glymmer/kvGlymmerSS.ini" "$source_dir/resources/pics/"

now_ms() { echo $(($(date +%s%N) / 1000000)); }
ticks() { awk '{ print $14 + $15 }' /proc/"$1"/stat; }
# Starts the dialog; sets pid, and ms to the milliseconds until its window
# was mapped.
open_dialog() {
  local start win=
  start=$(now_ms)
  "$glymmer" --configure 2>>"$work/err" &
  pid=$!
  for _ in $(seq 5000); do
    win=$(xdotool search --onlyvisible --name '^Glymmer Settings$' 2>/dev/null | head -n1) || true
    [ -n "$win" ] && break
    kill -0 "$pid" 2>/dev/null || fail "the dialog ended: $(cat "$work/err")"
  done
  ms=$(($(now_ms) - start))
  [ -n "$win" ] || fail "the dialog's window did not appear"
}
close_dialog() { kill "$pid"; wait "$pid" 2>/dev/null || true; }

times=()
for _ in $(seq "$runs"); do
  open_dialog
  times+=("$ms")
  close_dialog
done
median=$(printf '%s\n' "${times[@]}" | sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }')
echo "start-up: median ${median} ms until the window is mapped (runs: ${times[*]})"

open_dialog
sleep 3  # the preview's set-up done, its letters on their way
hz=$(getconf CLK_TCK)
t0=$(ticks "$pid")
sleep "$seconds"
t1=$(ticks "$pid")
awk -v t=$((t1 - t0)) -v hz="$hz" -v s="$seconds" \
  'BEGIN { printf "in view: %.1f%% of one core over %d s\n", 100 * t / hz / s, s }'
xdotool windowunmap --sync "$(xdotool search --onlyvisible --name '^Glymmer Settings$' | head -n1)"
sleep 1
t0=$(ticks "$pid")
sleep "$seconds"
t1=$(ticks "$pid")
awk -v t=$((t1 - t0)) -v hz="$hz" -v s="$seconds" \
  'BEGIN { printf "hidden: %.1f%% of one core over %d s\n", 100 * t / hz / s, s }'
close_dialog
