#!/usr/bin/env bash
# glymmer --render end to end: the same seed gives the same files, equal to
# frames kept from before picture changes left the animation thread; every
# step at 60 and 50 frames a second is a frame of its own; bad options exit 2;
# SIGTERM ends a render in order with complete files.
set -euo pipefail
build=$1
source=${2:-$(dirname "$0")/..}
glymmer=$build/app/glymmer
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

args=(--render --size 200x150 --fps 30 --seconds 3 --every 30 --seed 4242 --quiet)
"$glymmer" "${args[@]}" --output "$work/a"
"$glymmer" "${args[@]}" --output "$work/b"
count=$(ls "$work/a" | wc -l)
[ "$count" -eq 3 ] || fail "expected 3 frames, got $count"
for f in "$work"/a/*.png; do
  cmp -s "$f" "$work/b/$(basename "$f")" || fail "$(basename "$f") differs between two runs with one seed"
done
"$glymmer" "${args[@]}" --seed 99 --output "$work/c"
! cmp -s "$work/a/frame-000090.png" "$work/c/frame-000090.png" || fail "another seed gave the same frame"

# A picture change at 10.03 s (from the built-in picture to Chelsea.jpg),
# seen two steps and three seconds later: tests/data/render holds these frames
# as the renderer drew them when the picture was decoded inside the step.
XDG_CONFIG_HOME="$work/config" "$glymmer" --render --size 128x96 --fps 30 --seconds 13 \
  --at 10.1,13 --seed 3000 --glyphs 3000 --picture-delay 5 --folder "$source/resources/pics" \
  --builtin-first --quiet --output "$work/kept"
for f in "$source"/tests/data/render/*.png; do
  cmp -s "$f" "$work/kept/$(basename "$f")" || fail "$(basename "$f") differs from the kept frame"
done

# Every tick a step: N distinct frames a second (the first second starts
# black); faster than 60, every frame between two steps.
for fps in 60 50 144; do
  "$glymmer" --render --size 64x48 --fps $fps --seconds 2 --every 1 --seed 77 --glyphs 1500 \
    --quiet --output "$work/rate$fps"
  distinct=$(for i in $(seq $((fps + 1)) $((2 * fps))); do
    md5sum <"$work/rate$fps/$(printf 'frame-%06d.png' "$i")"
  done | sort -u | wc -l)
  [ "$distinct" -eq "$fps" ] || fail "--fps $fps: $distinct distinct frames in the second second"
done

set +e
"$glymmer" --render --size 10 2>"$work/err"; status=$?
set -e
[ "$status" -eq 2 ] || fail "bad --size exited $status, expected 2"
[ "$(wc -l <"$work/err")" -eq 1 ] || fail "expected a one-line error, got: $(cat "$work/err")"
set +e
"$glymmer" --frobnicate 2>/dev/null; status=$?
set -e
[ "$status" -eq 2 ] || fail "unknown option exited $status, expected 2"
"$glymmer" --help >"$work/help" && grep -q -- --render "$work/help" || fail "--help does not mention --render"
"$glymmer" --version | grep -q '^glymmer ' || fail "--version"

# SIGTERM in the middle of a long render.
"$glymmer" --render --size 200x150 --seconds 600 --every 1 --quiet --output "$work/d" &
pid=$!
for _ in $(seq 100); do
  [ "$(ls "$work/d" 2>/dev/null | grep -c '\.png$')" -ge 3 ] && break
  sleep 0.1
done
kill -TERM $pid
set +e
wait $pid; status=$?
set -e
[ "$status" -eq 143 ] || fail "SIGTERM ended the render with $status, expected 143"
! ls "$work/d" | grep -q '\.part$' || fail "a partial file was left behind"
for f in "$work"/d/*.png; do
  [ "$(tail -c 8 "$f" | od -An -c | tr -d ' \n')" = 'IEND256B`202' ] || fail "$f is not a complete PNG"
done
echo "render checks passed"
