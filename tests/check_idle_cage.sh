#!/usr/bin/env bash
# glymmer --idle as the screen saver of cage 0.1.4, headless: a compositor
# that reports a surface's appearance as activity (org_kde_kwin_idle's
# resumed, about 0.2 s after, with no input). The screen seen through grim.
#
#   tests/check_idle_cage.sh BUILD_DIR [SOURCE_DIR]
#
# With a delay of 2 s: the saver (full screen: cage offers no layer shell)
# covers the kiosk's window after the delay and stays up with no input,
# whatever cage says of its appearance, while activity would end it once it
# is up; SIGTERM ends watcher and saver. cage offers no way to inject input
# (no virtual keyboard or pointer, and its headless backend has no devices),
# so input ending the saver is checked on the other compositors.
#
# Run as root, cage and every client run as "nobody". Exit status 77 (a skip)
# only where cage cannot start at all.
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
command -v cage >/dev/null || skip "cage is not installed (scripts/setup installs it)"
need_tools grim
need_built "$glymmer" "$helper" "$xshot"

work=$(mktemp -d)
trap end_started EXIT
wayland_session 3000
mkdir -p "$work/shots"
chmod 777 "$work/shots"
share_suppressions

shot() {
  rm -f "$work/shots/out.png"
  as "$wl" grim "$work/shots/out.png" 2>/dev/null && "$xshot" --file "$work/shots/out.png"
}

# The kiosk's one client: a red window.
start_compositor cage WLR_BACKENDS=headless WLR_HEADLESS_OUTPUTS=1 -- \
  cage -- "$helper" window ff0000 ||
  skip "cage cannot start here: $(tail -n 3 "$work/cage.log" | tr '\n' ' ')"
wl=$compositor_display
# The window keeps its own size (a small part of the output).
wait_uncovered 0.02

# The saver after the delay, over the window, still there well after cage
# has told of its appearance, and up: activity would end it now.
saver_after_delay org_kde_kwin_idle --fullscreen
wait_seen "the saver is up; activity ends it" 1
sleep 4
[ "$(seen "the saver ended")" -eq 0 ] && alive "$(saver)" ||
  fail "the saver ended without input"
wait_covered
end_watcher

echo "Idle watcher check on cage passed"
