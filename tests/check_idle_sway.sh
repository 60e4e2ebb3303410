#!/usr/bin/env bash
# glymmer --idle as the screen saver of sway 1.7, headless, whose only idle
# protocol is org_kde_kwin_idle; the screen seen through grim's screenshots.
#
#   tests/check_idle_sway.sh BUILD_DIR [SOURCE_DIR]
#
# With a delay of 2 s: the saver covers a window only once the delay has
# passed; a key ends it, the next idle period brings it back, pointer travel
# ends that one; a window holding an idle inhibitor keeps it away until the
# window closes; a second watcher is refused (the display named either way);
# kill -9 of the watcher leaves no saver; SIGTERM ends watcher and saver with
# status 0; a saver that fails is said once and tried again only after
# activity; the compositor killed ends the watcher with status 1.
#
# Run as root, sway and every client run as "nobody". Exit status 77 (a skip)
# only where sway cannot start at all.
set -euo pipefail
build=$(cd "$1" && pwd)
source_dir=$(cd "${2:-$(dirname "$0")/..}" && pwd)
glymmer=$build/app/glymmer
helper=$build/tools/glymmer-wl-helper/glymmer-wl-helper
xshot=$build/tools/glymmer-xshot/glymmer-xshot

fail() { echo "FAIL: $*" >&2; [ -f "${log:-}" ] && tail -n 20 "$log" >&2; exit 1; }
skip() { echo "SKIP: $*"; exit 77; }
. "$source_dir/tests/support/session.sh"
. "$source_dir/tests/support/wayland.sh"
. "$source_dir/tests/support/idle.sh"
command -v sway >/dev/null || skip "sway is not installed (scripts/setup installs it)"
need_tools grim wtype
need_built "$glymmer" "$helper" "$xshot"

work=$(mktemp -d)
trap end_started EXIT
wayland_session 3000
mkdir -p "$work/shots"
chmod 777 "$work/shots"
share_suppressions

shot() {
  rm -f "$work/shots/out.png"
  as "$wl" grim -o HEADLESS-1 "$work/shots/out.png" 2>/dev/null && "$xshot" --file "$work/shots/out.png"
}

echo "output HEADLESS-1 resolution 320x240" >"$work/main.conf"
chmod 644 "$work/main.conf"
start_sway main WLR_BACKENDS=headless WLR_HEADLESS_OUTPUTS=1 ||
  skip "sway cannot start here: $(tail -n 3 "$work/main.log" | tr '\n' ' ')"
wl=$sway_display
# A keyboard on the seat, as a real one is there long before any saver: a
# surface gets the keyboard only from a seat that has one.
run_as "$wl" wtype -s 600000 -k Shift_L &
pids+=($!)
run_as "$wl" "$helper" window ff0000 &
pids+=($!)
wait_uncovered

# The saver after the delay, over the window; a key and pointer travel end
# it; an idle inhibitor keeps it away.
idle_cycle "org_kde_kwin_idle" wtype -k a

# One watcher per session, the display named by its socket's path too (one
# not refused would run on: timeout ends it).
for display in "$wl" "$runtime/$wl"; do
  status=0
  as "$display" timeout 20 "$glymmer" --idle --after 2 >"$work/second.log" 2>&1 || status=$?
  [ "$status" -eq 1 ] && grep -q "an idle watcher already runs on $wl\$" "$work/second.log" ||
    fail "a second watcher on $display was not refused (status $status): $(cat "$work/second.log")"
done

# kill -9 of the watcher takes its saver along.
kill_watcher
wait_uncovered

# SIGTERM ends the watcher and its saver, in order, with status 0.
watch "$work/term.log"
wait_seen "view 1: OpenGL set up" 1
end_watcher

# A saver that cannot start (here: sent to an X server there is none of) is
# said once, and tried again only after the user has been back.
watch "$work/failing.log" --backend x11
wait_seen "the saver failed" 1
sleep 3
[ "$(seen "the saver starts")" -eq 1 ] || fail "a failed saver was tried again without activity"
as "$wl" wtype -k a
wait_seen "the saver starts" 2
sleep 0.5
[ "$(seen "the saver failed")" -eq 1 ] || fail "a failing saver was said more than once"

# The compositor killed: the watcher ends, soon, with status 1 and one line.
kill -KILL "$sway_pid"
wait_end "$watcher" 5 || fail "the watcher outlives its compositor by 5 s"
[ "$status" -eq 1 ] || fail "the watcher ended with status $status when its compositor died"
grep -q "the Wayland compositor went away" "$log" || fail "no line when the compositor died"

echo "Idle watcher check on sway passed"
