#!/usr/bin/env bash
# What the idle watcher costs while it waits: its resident memory, the CPU
# time it takes and how often any of its threads wakes, over SECONDS of a
# session left alone (the delay far beyond them), on a private Xvfb
# (MIT-SCREEN-SAVER) and on a headless sway (org_kde_kwin_idle).
#
#   bench/idle.sh BUILD_DIR [SECONDS]   (default 60)
set -euo pipefail
build=$(cd "$1" && pwd)
seconds=${2:-60}
source_dir=$(cd "$(dirname "$0")/.." && pwd)
glymmer=$build/app/glymmer

fail() { echo "bench/idle.sh: $*" >&2; exit 1; }
. "$source_dir/tests/support/session.sh"
. "$source_dir/tests/support/wayland.sh"
[ -x "$glymmer" ] || fail "build glymmer in $build first"

work=$(mktemp -d)
trap end_started EXIT
wayland_session 3000
start_xvfb 320x240
pids+=("$xvfb_pid")
echo "output HEADLESS-1 resolution 320x240" >"$work/bench.conf"
chmod 644 "$work/bench.conf"
start_sway bench WLR_BACKENDS=headless || fail "sway does not start"

# Context switches of every thread of a process: each wake-up counts one.
switches() {
  cat /proc/"$1"/task/*/status | awk '/^voluntary_ctxt_switches/ { n += $2 } END { print n }'
}
# CPU time of a process (user and system) in clock ticks.
ticks() { awk '{ print $14 + $15 }' /proc/"$1"/stat; }
field() { awk -v k="$2:" '$1 == k { print $2 }' /proc/"$1"/status; }

measure() {
  local what=$1 pid=$2 s0 t0 s1 t1
  sleep 2  # set-up done
  s0=$(switches "$pid")
  t0=$(ticks "$pid")
  sleep "$seconds"
  s1=$(switches "$pid")
  t1=$(ticks "$pid")
  printf '%-34s VmRSS %5d kB  VmHWM %5d kB  threads %d  CPU %4d ms in %d s  wake-ups %d\n' \
    "$what" "$(field "$pid" VmRSS)" "$(field "$pid" VmHWM)" "$(field "$pid" Threads)" \
    $(((t1 - t0) * 1000 / $(getconf CLK_TCK))) "$seconds" $((s1 - s0))
}

env -u WAYLAND_DISPLAY XDG_RUNTIME_DIR=$runtime XDG_CONFIG_HOME=$work/config \
  DBUS_SESSION_BUS_ADDRESS=unix:path=$work/no-bus \
  "$glymmer" --idle --after 86400 >"$work/x11.log" 2>&1 &
x11=$!
pids+=("$x11")
run_as "$sway_display" env DBUS_SESSION_BUS_ADDRESS=unix:path=$work/no-bus \
  "$glymmer" --idle --after 86400 >"$work/wayland.log" 2>&1 &
wayland=$!
pids+=("$wayland")
measure "X11 (MIT-SCREEN-SAVER)" "$x11" &
m1=$!
measure "Wayland, sway (org_kde_kwin_idle)" "$wayland" &
m2=$!
wait "$m1" "$m2"
cat "$work/x11.log" "$work/wayland.log"
