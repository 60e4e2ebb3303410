#!/usr/bin/env bash
# glymmer-pack end to end: create, list and extract, and every refusal gives
# one line on standard error, a non-zero status and no partial file.
# Arguments: the build directory, the source directory.
set -u
build=$1
source=$2
pack="$build/tools/glymmer-pack/glymmer-pack"
art="$source/resources/zentari.vostrelli"
work=$(mktemp -d "${TMPDIR:-/tmp}/glymmer-pack-XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# expect_refusal NAME PATTERN COMMAND...: a non-zero status and exactly one
# line on standard error that contains PATTERN.
expect_refusal() {
  local name=$1 pattern=$2
  shift 2
  "$@" >"$work/out" 2>"$work/err"
  local status=$?
  local lines
  lines=$(wc -l <"$work/err")
  if [ "$status" -eq 0 ]; then
    fail "$name: succeeded, expected a refusal"
  elif [ "$lines" -ne 1 ]; then
    fail "$name: expected one line on standard error, got $lines: $(cat "$work/err")"
  elif ! grep -q -- "$pattern" "$work/err"; then
    fail "$name: expected \"$pattern\", got: $(cat "$work/err")"
  fi
}

[ -x "$pack" ] || { echo "glymmer-pack not built at $pack" >&2; exit 1; }

# The built-in archive holds six readable image lumps.
if "$pack" list "$art" >"$work/list" 2>"$work/err"; then
  count=$(grep -c ': type 1, .*image [0-9]*x[0-9]*x\(24\|32\)$' "$work/list")
  [ "$count" -eq 6 ] || fail "list of the built-in art shows $count image lumps, expected 6: $(cat "$work/list")"
  [ "$(wc -l <"$work/list")" -eq 6 ] || fail "list prints more than one line per lump"
  grep -q '^0: type 1, alpha mode 2, .*image 1024x512x24$' "$work/list" ||
    fail "slot 0 is not a 1024x512 font sheet with the brightness alpha: $(head -1 "$work/list")"
else
  fail "list of the built-in art failed: $(cat "$work/err")"
fi

# Round trip: extract two images, pack them again, list and extract them back.
"$pack" extract "$art" 2 "$work/monogram.tga" || fail "extract 2"
"$pack" extract "$art" 3 "$work/swatch.tga" || fail "extract 3"
"$pack" create "$work/mine.vostrelli" "$work/monogram.tga:2" "$work/swatch.tga" ||
  fail "create from two extracted images"
"$pack" list "$work/mine.vostrelli" >"$work/list" 2>"$work/err" || fail "list mine: $(cat "$work/err")"
grep -q '^0: type 1, alpha mode 2, [0-9]* bytes at offset 24, image 32x32x24$' "$work/list" ||
  fail "first lump of mine: $(cat "$work/list")"
grep -q '^1: type 1, alpha mode 0, .*image 32x32x32$' "$work/list" ||
  fail "second lump of mine: $(cat "$work/list")"
"$pack" extract "$work/mine.vostrelli" 1 "$work/back.tga" || fail "extract from mine"
cmp -s "$work/swatch.tga" "$work/back.tga" || fail "an image does not come back byte for byte"

# Refusals.
printf 'not an image at all' >"$work/text.tga"
cp "$work/mine.vostrelli" "$work/before"
expect_refusal "create with a bad image" "text.tga: TGA file be type 2 or type 10" \
  "$pack" create "$work/mine.vostrelli" "$work/monogram.tga" "$work/text.tga"
cmp -s "$work/mine.vostrelli" "$work/before" || fail "a refused create changed the existing archive"
expect_refusal "create with a missing image" "none.tga" \
  "$pack" create "$work/new.vostrelli" "$work/none.tga"
[ -e "$work/new.vostrelli" ] && fail "a refused create left an archive behind"
head -c 30 "$work/swatch.tga" >"$work/short.tga"
expect_refusal "create with a cut image" "short.tga: Could not" \
  "$pack" create "$work/new.vostrelli" "$work/short.tga"
expect_refusal "create with a bad alpha mode" "alpha mode must be" \
  "$pack" create "$work/new.vostrelli" "$work/monogram.tga:7"
expect_refusal "create into a missing folder" "missing/x.vostrelli" \
  "$pack" create "$work/missing/x.vostrelli" "$work/monogram.tga"
[ -e "$work/new.vostrelli" ] && fail "a refused create left an archive behind"
leftovers=$(find "$work" -name '*.vostrelli.*' | wc -l)
[ "$leftovers" -eq 0 ] || fail "temporary files left behind: $(find "$work" -name '*.vostrelli.*')"

expect_refusal "list a non-archive" "not a Glymmer archive" "$pack" list "$work/monogram.tga"
expect_refusal "list a missing file" "cannot open" "$pack" list "$work/none.vostrelli"
cp "$work/mine.vostrelli" "$work/longer.vostrelli"
printf 'x' >>"$work/longer.vostrelli"
expect_refusal "list with a wrong check value" "wrong check value" "$pack" list "$work/longer.vostrelli"
expect_refusal "extract past the last lump" "index 2 is out of range" \
  "$pack" extract "$work/mine.vostrelli" 2 "$work/x.tga"
expect_refusal "extract with a bad index" "whole number" \
  "$pack" extract "$work/mine.vostrelli" -1 "$work/x.tga"
expect_refusal "extract with a bad index" "whole number" \
  "$pack" extract "$work/mine.vostrelli" 1x "$work/x.tga"
[ -e "$work/x.tga" ] && fail "a refused extract wrote a file"

# A damaged image inside an otherwise sound archive is named by list.
python3 - "$work/mine.vostrelli" "$work/damaged.vostrelli" <<'PY' || fail "could not build a damaged archive"
import struct, sys
data = bytearray(open(sys.argv[1], "rb").read())
data[24 + 16] = 16  # first image: 16 bits per pixel
open(sys.argv[2], "wb").write(bytes(data))
PY
"$pack" list "$work/damaged.vostrelli" >"$work/out" 2>"$work/err"
status=$?
[ "$status" -ne 0 ] || fail "list of a damaged image succeeded"
grep -q '^0: .*unreadable image: Invalid texture information$' "$work/out" ||
  fail "list does not name the damaged image: $(cat "$work/out")"
[ "$(wc -l <"$work/err")" -eq 1 ] || fail "list of a damaged image: $(cat "$work/err")"

"$pack" >/dev/null 2>&1
[ $? -eq 2 ] || fail "no arguments must give the usage and status 2"
"$pack" --help | grep -q 'glymmer-pack create ARCHIVE' || fail "--help shows no usage"

if [ "$failures" -ne 0 ]; then
  echo "$failures glymmer-pack checks failed" >&2
  exit 1
fi
echo "glymmer-pack: all checks passed"
