#!/usr/bin/env bash
# glymmer --configure as a native Wayland client of a headless sway, run as
# "nobody", looked at through grim's screenshots: the dialog's live preview
# shows the mosaic, coloured like the one (red) picture of the folder; a
# letter count typed in and confirmed shows in it without saving; the dialog
# moved out of sight commits no frames; ended unsaved, it stores nothing.
#
#   tests/check_configure_wayland.sh BUILD_DIR [SOURCE_DIR]
#
# Exit status 77 (a skip) only where sway cannot start at all.
set -euo pipefail
build=$(cd "$1" && pwd)
source_dir=$(cd "${2:-$(dirname "$0")/..}" && pwd)
glymmer=$build/app/glymmer
xshot=$build/tools/glymmer-xshot/glymmer-xshot

fail() { echo "FAIL: $*" >&2; [ -n "${KEEP_SHOTS:-}" ] && cp "$work/shots/output.png" "$KEEP_SHOTS/configure-wayland-failed.png" 2>/dev/null; cp "$log" "$KEEP_SHOTS/glymmer.log" 2>/dev/null; [ -f "${log:-}" ] && tail -n 5 "$log" >&2; exit 1; }
skip() { echo "SKIP: $*"; exit 77; }
. "$source_dir/tests/support/session.sh"
. "$source_dir/tests/support/wayland.sh"
command -v sway >/dev/null || skip "sway is not installed (scripts/setup installs it)"
need_tools swaymsg grim wtype
need_built "$glymmer" "$xshot"

work=$(mktemp -d)
trap end_started EXIT
wayland_session 15000
share_suppressions
# A folder of one red picture (32 x 32 PNG), the built-in picture not first.
mkdir -m 755 "$work/pics"
base64 -d >"$work/pics/Scarlet.png" <<<'iVBORw0KGgoAAAANSUhEUgAAACAAAAAgCAIAAAD8GO2jAAAAJ0lEQVR42u3NsQkAAAjAsP7/tF7hIASyp6lTCQQCgUAgEAgEgi/BAjLD/C5w/SM9AAAAAElFTkSuQmCC'
chmod 644 "$work/pics/Scarlet.png"
store=$work/config/glymmer/kvGlymmerSS.ini
write_store "$store" "$work/pics/"
sed -i 's/^MLFirst=true$/MLFirst=false/' "$store"
[ ${#as_user[@]} -eq 0 ] || chown 65534:65534 "$store"
cp "$store" "$work/stored"

echo "output HEADLESS-1 resolution 1280x800" >"$work/sway.conf"
chmod 644 "$work/sway.conf"
start_sway sway WLR_BACKENDS=headless || skip "sway does not start: $(tail -n 3 "$work/sway.log")"
display=$sway_display

mkdir -m 777 "$work/shots"
# red: the share of pure red pixels on the output now.
red() {
  local file=$work/shots/output.png line
  rm -f "$file"
  as "$display" grim -o HEADLESS-1 "$file" 2>/dev/null || return 1
  line=$("$xshot" --file "$file") || return 1
  sed -n 's/.* red=\([0-9.]*\).*/\1/p' <<<"$line"
}
# wait_red TEST TRIES: screenshots, a fifth of a second apart, until the red
# share passes the awk test on r; sets `share`.
wait_red() {
  local _
  for _ in $(seq "$2"); do
    share=$(red) || share=0
    awk -v r="$share" "BEGIN { exit !($1) }" && return 0
    sleep 0.2
  done
  return 1
}
# attaches: buffers the client has attached to its surfaces so far.
attaches() { grep -c -- '-> wl_surface@[0-9]*\.attach(' "$log" || true; }

log=$work/glymmer.log
(WAYLAND_DEBUG=client NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory GDK_BACKEND=wayland \
  run_as "$display" "$glymmer" --configure) >"$log" 2>&1 &
pid=$!
pids+=("$pid")

# The sheet of 15000 red letters in the 384 x 216 pane: over a fifth of the
# pane, more than one per cent of the output, is pure red.
wait_red 'r > 0.01' 100 || fail "the preview shows no red mosaic (red $share)"
[ -n "${KEEP_SHOTS:-}" ] && cp "$work/shots/output.png" "$KEEP_SHOTS/configure-wayland.png"

# 300 letters typed into the number of letters (Alt+N), confirmed with Tab,
# not saved: they light a fiftieth of what 15000 do, at most. Each wtype is
# a new keyboard, which waits a moment before its keys for the client to take
# its keymap, and after them, as keys still queued when it goes are lost;
# typed again while they do not show.
msg "$display" "$sway_socket" '[title="^Glymmer Settings$"] focus'
for _ in $(seq 5); do
  as "$display" wtype -s 300 -M alt n -m alt -M ctrl a -m ctrl 300 -k Tab -s 300
  wait_red 'r < 0.002' 10 && break
done
awk -v r="$share" 'BEGIN { exit !(r < 0.002) }' || fail "300 letters did not show in the preview (red $share)"

# Out of sight (on a workspace of its own) the dialog commits no frames.
msg "$display" "$sway_socket" '[title="^Glymmer Settings$"] move to workspace 2'
sleep 1
seen=$(attaches)
sleep 2
[ "$(attaches)" -eq "$seen" ] || fail "the dialog out of sight committed $(($(attaches) - seen)) frames in 2 s"
msg "$display" "$sway_socket" 'workspace 2'
msg "$display" "$sway_socket" '[title="^Glymmer Settings$"] focus'
sleep 0.5
[ "$(attaches)" -gt "$seen" ] || fail "the dialog brought back committed no frame"

# SIGTERM ends it, as the window's own way out: the letters typed are not
# stored. (Keys that close the dialog, Escape or Alt+C, do not reach it from
# wtype's keyboards, whose last keys are lost as each goes; the gtest under
# Xvfb presses Cancel.)
kill -TERM "$pid"
for _ in $(seq 100); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$pid" 2>/dev/null && fail "SIGTERM did not end the dialog"
status=0
wait "$pid" || status=$?
[ "$status" -eq 0 ] || fail "the dialog ended with status $status"
cmp -s "$store" "$work/stored" || fail "the store changed: $(cat "$store")"
echo "PASS"
