#!/usr/bin/env bash
# glymmer on weston, a compositor beside the three the other checks use:
# headless, with its CPU (pixman) renderer, which shows buffers of 10 bits a
# channel as black. The full-screen view must show the mosaic, drawn into a
# configuration of 8 bits a channel (as the --verbose line says), seen on
# weston's own screenshots; the idle watcher, for which weston offers no
# idle protocol, says once what it looked for.
#
#   tests/check_weston.sh BUILD_DIR [SOURCE_DIR]
#
# Run as root, weston and every client run as "nobody". Exit status 77 (a
# skip) only where weston cannot start at all.
set -euo pipefail
build=$(cd "$1" && pwd)
source_dir=$(cd "${2:-$(dirname "$0")/..}" && pwd)
glymmer=$build/app/glymmer
xshot=$build/tools/glymmer-xshot/glymmer-xshot

fail() { echo "FAIL: $*" >&2; [ -f "${log:-}" ] && tail -n 20 "$log" >&2; exit 1; }
skip() { echo "SKIP: $*"; exit 77; }
. "$source_dir/tests/support/session.sh"
. "$source_dir/tests/support/wayland.sh"
command -v weston >/dev/null || skip "weston is not installed (scripts/setup installs it)"
need_tools weston-screenshooter
need_built "$glymmer" "$xshot"

work=$(mktemp -d)
trap end_started EXIT
wayland_session 3000
mkdir -p "$work/shots"
[ ${#as_user[@]} -eq 0 ] || chown 65534:65534 "$work/shots"
share_suppressions

# A black background, no panel and no animations: whatever is lit on
# screen is glymmer's. --debug lets weston-screenshooter take shots.
cat >"$work/weston.ini" <<EOF
[shell]
background-color=0xff000000
panel-position=none
startup-animation=none
animation=none
EOF
chmod 644 "$work/weston.ini"
env -u DISPLAY HOME="$work/home" XDG_RUNTIME_DIR="$runtime" "${as_user[@]}" \
  weston --backend=headless-backend.so --use-pixman --width=320 --height=240 \
  --shell=desktop-shell.so --config="$work/weston.ini" --socket=glymmer-weston --debug >"$work/weston.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  [ -S "$runtime/glymmer-weston" ] && break
  kill -0 "${pids[-1]}" 2>/dev/null || break
  sleep 0.1
done
[ -S "$runtime/glymmer-weston" ] ||
  skip "weston cannot start here: $(tail -n 3 "$work/weston.log" | tr '\n' ' ')"
wl=glymmer-weston

# shot: glymmer-xshot's line for a screenshot of weston's output.
shot() {
  rm -f "$work/shots"/*.png
  (cd "$work/shots" && as "$wl" weston-screenshooter >/dev/null 2>&1) || return 1
  "$xshot" --file "$work/shots"/*.png
}

log=$work/fullscreen.log
run_as "$wl" "$glymmer" --fullscreen --verbose >"$log" 2>&1 &
pids+=($!)
shot=""
for _ in $(seq 100); do
  shot=$(shot) || true
  [ -n "$shot" ] && is_lit "$shot" && break
  sleep 0.2
done
is_lit "$shot" || fail "weston shows no mosaic of the full-screen view: $shot"
wait_until_moved "$shot" shot
[ "$(hash_of "$moved")" != "$(hash_of "$shot")" ] || fail "the full-screen view on weston does not move"
grep -q "EGL_RED_SIZE 8, EGL_GREEN_SIZE 8, EGL_BLUE_SIZE 8" "$log" ||
  fail "the view does not draw with 8 bits a channel: $(grep "EGL configuration" "$log")"
kill "${pids[-1]}"
wait "${pids[-1]}" 2>/dev/null || true
unset 'pids[-1]'

log=$work/idle.log
status=0
as "$wl" "$glymmer" --idle --after 60 --verbose >"$log" 2>&1 || status=$?
[ "$status" -eq 1 ] || fail "the watcher on weston, which offers no idle protocol, ended with $status"
said=$(grep -c "ext-idle-notify-v1" "$log" || true)
[ "$said" -eq 1 ] && [ "$(grep -o "ext-idle-notify-v1" "$log" | wc -l)" -eq 1 ] ||
  fail "the watcher does not say once what it looked for: $(cat "$log")"
echo "PASS: weston shows the mosaic: $shot"
