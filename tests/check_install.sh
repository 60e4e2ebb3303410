#!/usr/bin/env bash
# The installed Glymmer on its own. `cmake --install` puts everything into a
# staging folder (DESTDIR, so that xscreensaver folders configured as absolute
# paths land there too); the installed tree is then moved elsewhere and its
# glymmer --render run from an unrelated working folder. It must find the
# installed resources from its own place (and through the xscreensaver hack
# link), render exactly what the build tree renders, and render something else
# when the installed files change. The screen-saver theme entry must be valid
# and run the installed hack. The setting options must win over the
# store for the run while the store file stays byte for byte the same.
#
#   tests/check_install.sh BUILD_DIR [SOURCE_DIR]
set -euo pipefail
build=$(cd "$1" && pwd)
source_dir=$(cd "${2:-$(dirname "$0")/..}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }
. "$source_dir/tests/support/session.sh"
cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
need_tools desktop-file-validate

# ---- Install -------------------------------------------------------------
stage=$work/stage
prefix=/opt/glymmer-check
DESTDIR=$stage cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log" >&2; fail "cmake --install failed (build everything first)"; }
root=$stage$prefix
under() { case "$1" in /*) echo "$stage$1" ;; *) echo "$root/$1" ;; esac; }
hack=$(under "$(cache GLYMMER_XSCREENSAVER_HACK_DIR)")/glymmer
description=$(under "$(cache GLYMMER_XSCREENSAVER_CONFIG_DIR)")/glymmer.xml

for f in bin/glymmer share/glymmer/zentari.vostrelli share/glymmer/GlymmerSS.ui \
  share/glymmer/pics/Quorinda.jpg share/doc/glymmer/README.md share/doc/glymmer/NOTICE \
  share/man/man6/glymmer.6 share/man/man1/glymmer-pack.1 share/doc/glymmer/LICENSE \
  lib/systemd/user/glymmer-idle.service; do
  [ -f "$root/$f" ] || fail "$f was not installed"
done
grep -qx "ExecStart=$prefix/bin/glymmer --idle" "$root/lib/systemd/user/glymmer-idle.service" ||
  fail "the user service does not run the installed watcher: $(grep ExecStart "$root/lib/systemd/user/glymmer-idle.service")"
# MATE's and Xfce's screen savers run the theme entry's command line as it is,
# and only programs in xscreensaver's hack folders: it runs the hack link.
entry=$root/share/applications/screensavers/glymmer.desktop
[ -f "$entry" ] || fail "the screen-saver theme entry was not installed"
desktop-file-validate "$entry" >"$work/validate.log" 2>&1 ||
  fail "the theme entry is not valid: $(cat "$work/validate.log")"
grep -qx "Exec=${hack#"$stage"} -root" "$entry" && grep -qx "TryExec=${hack#"$stage"}" "$entry" ||
  fail "the theme entry does not run the installed hack: $(grep Exec "$entry")"
grep -qx "Categories=Screensaver;" "$entry" || fail "the theme entry is not in the Screensaver category"
[ -x "$root/bin/glymmer" ] || fail "bin/glymmer is not executable"
[ -L "$hack" ] || fail "the xscreensaver hack $hack is not a symbolic link"
[ "$(readlink -f "$hack")" = "$root/bin/glymmer" ] ||
  fail "the hack leads to $(readlink -f "$hack"), not $root/bin/glymmer"
[ -f "$description" ] || fail "no hack description at $description"
grep -q '<screensaver name="glymmer" _label="Glymmer" gl="yes">' "$description" ||
  fail "the hack description does not name glymmer"
if command -v python3 >/dev/null && python3 -c 'import xml.etree.ElementTree' 2>/dev/null; then
  python3 -c 'import sys, xml.etree.ElementTree as E; E.parse(sys.argv[1])' "$description" ||
    fail "the hack description is not well-formed XML"
fi

# The hack finds the resources of the tree it is installed in, not the source
# tree's.
mkdir "$work/elsewhere"
cd "$work/elsewhere"
XDG_CONFIG_HOME=$work/config-hack "$hack" --render --verbose --seconds 0 --size 32x32 \
  --output "$work/hack-out" 2>"$work/hack.log" || { cat "$work/hack.log" >&2; fail "the hack failed"; }
grep -qx "glymmer: resources in $root/share/glymmer" "$work/hack.log" ||
  fail "the hack did not use $root/share/glymmer: $(head -n 1 "$work/hack.log")"

# ---- The moved tree renders alone ----------------------------------------
moved=$work/moved
mv "$root" "$moved"
description=${description/#$root\//$moved/}
render=(--render --verbose --size 160x120 --fps 10 --seconds 3 --at 3 --seed 777 --glyphs 1500)
run_installed() {  # CONFIG OUTPUT [OPTIONS...]
  local config=$1 out=$2
  shift 2
  XDG_CONFIG_HOME=$config "$moved/bin/glymmer" "${render[@]}" --output "$out" "$@" \
    2>"$out.log" || { cat "$out.log" >&2; fail "the installed glymmer failed"; }
}
run_installed "$work/config-a" "$work/installed"
grep -qx "glymmer: resources in $moved/share/glymmer" "$work/installed.log" ||
  fail "the moved program did not use its own resources: $(head -n 1 "$work/installed.log")"
grep -qx "PicPath=$moved/share/glymmer/pics/" "$work/config-a/glymmer/kvGlymmerSS.ini" ||
  fail "the default picture folder is not the installed pics/: $(grep PicPath "$work/config-a/glymmer/kvGlymmerSS.ini")"
XDG_CONFIG_HOME=$work/config-b "$build/app/glymmer" "${render[@]}" --output "$work/built" \
  2>"$work/built.log" || fail "the build tree's glymmer failed"
grep -qx "glymmer: resources in $source_dir/resources" "$work/built.log" ||
  fail "the build tree's program did not use the source resources: $(head -n 1 "$work/built.log")"
frame=frame-000030.png
[ -s "$work/installed/$frame" ] || fail "the installed glymmer wrote no $frame"
cmp -s "$work/installed/$frame" "$work/built/$frame" ||
  fail "the installed glymmer renders differently from the build tree"

# Other installed files, other frames: the installed resources are the ones read.
cp "$moved/share/glymmer/pics/Chelsea.jpg" "$moved/share/glymmer/pics/Quorinda.jpg"
run_installed "$work/config-a" "$work/other-picture"
! cmp -s "$work/other-picture/$frame" "$work/built/$frame" ||
  fail "replacing the installed first picture changed nothing"
cp "$source_dir/resources/pics/Quorinda.jpg" "$moved/share/glymmer/pics/Quorinda.jpg"
mv "$moved/share/glymmer/zentari.vostrelli" "$work/archive"
run_installed "$work/config-a" "$work/no-archive"
! cmp -s "$work/no-archive/$frame" "$work/built/$frame" ||
  fail "removing the installed archive changed nothing"
mv "$work/archive" "$moved/share/glymmer/zentari.vostrelli"

# ---- Full-length paths -----------------------------------------------------
# Moved so that its archive's path has exactly 1024 bytes, the tree renders as
# the build tree does; one byte more is said in one line, not left black.
move_deep() {  # BYTES: moves the tree so that the archive's path has that many
  local base=$work/deep tail=/share/glymmer/zentari.vostrelli
  local room=$(($1 - ${#base} - ${#tail})) count
  count=$(((room + 200) / 201))
  deep=$base
  for ((i = 0; i < count; ++i)); do
    local length=$(((room - count) / count + (i < (room - count) % count ? 1 : 0)))
    deep+=/$(printf 'd%.0s' $(seq "$length"))
  done
  mkdir -p "$(dirname "$deep")"
  mv "$moved" "$deep"
  [ ${#deep} -eq $(($1 - ${#tail})) ] || fail "the deep folder is ${#deep} bytes long"
}
move_deep 1024
XDG_CONFIG_HOME=$work/config-deep "$deep/bin/glymmer" "${render[@]}" --output "$work/deep-out" \
  2>"$work/deep.log" || fail "the tree with a 1024-byte archive path failed: $(cat "$work/deep.log")"
cmp -s "$work/deep-out/$frame" "$work/built/$frame" ||
  fail "with a 1024-byte archive path the frame differs: $(grep -v '^glymmer: frame' "$work/deep.log")"
mv "$deep" "$moved"
rm -rf "$work/deep"
move_deep 1025
XDG_CONFIG_HOME=$work/config-deeper "$deep/bin/glymmer" "${render[@]}" --output "$work/deeper-out" \
  2>"$work/deeper.log" || true
grep -q "^ERROR: The path of the resource file is longer than 1024 bytes; the scene cannot start: $deep" \
  "$work/deeper.log" || fail "a 1025-byte archive path is not said: $(head -n 3 "$work/deeper.log")"
mv "$deep" "$moved"
# A picture folder whose path, with its "/", is 1024 bytes shows its pictures
# as a short one does.
short=$work/short
mkdir -p "$short"
cp "$source_dir/resources/pics/Rocket.jpg" "$short/"
rm -rf "$work/deep"
mkdir -p "$work/deep"
long=$work/deep
while [ $((${#long} + 201)) -lt 1023 ]; do long+=/$(printf 'p%.0s' $(seq 200)); done
long+=/$(printf 'p%.0s' $(seq $((1023 - ${#long} - 1))))
mkdir -p "$long"
cp "$source_dir/resources/pics/Rocket.jpg" "$long/"
[ ${#long} -eq 1023 ] || fail "the long folder is ${#long} bytes long"
for folder in short long; do
  run_installed "$work/config-$folder" "$work/folder-$folder" --folder "${!folder}"
done
cmp -s "$work/folder-long/$frame" "$work/folder-short/$frame" ||
  fail "a 1024-byte picture folder does not show as a short one: $(grep -v '^glymmer: frame' "$work/folder-long.log")"

# ---- Setting options: for this run only ----------------------------------
mkdir -p "$work/config-s/glymmer" "$work/mypics"
cp "$source_dir/resources/pics/Rocket.jpg" "$work/mypics/"
store=$work/config-s/glymmer/kvGlymmerSS.ini
write_store "$store" "$moved/share/glymmer/pics/" 900 25 1 60
cp "$store" "$work/store.before"
run_installed "$work/config-s" "$work/stored"
grep -qx "glymmer: settings: glyphs 1500, glyph-size 25, case upper, picture-delay 60, folder $moved/share/glymmer/pics/, builtin-first on, captions on, main-monitor-only off" \
  "$work/stored.log" || fail "the stored settings were not used: $(grep settings: "$work/stored.log")"
run_installed "$work/config-s" "$work/given" -glyph-size 30 --case=lower --picture-delay 300 \
  --no-captions -no-builtin-first --main-monitor-only --folder "$work/mypics/Rocket.jpg"
grep -qx "glymmer: settings: glyphs 1500, glyph-size 30, case lower, picture-delay 300, folder $work/mypics/, builtin-first off, captions off, main-monitor-only on" \
  "$work/given.log" || fail "the options did not win over the store: $(grep settings: "$work/given.log")"
cmp -s "$store" "$work/store.before" || fail "a run with setting options changed the store"
! cmp -s "$work/given/$frame" "$work/stored/$frame" || fail "the options changed nothing on screen"
set +e
"$moved/bin/glymmer" --configure --glyphs 100 2>"$work/configure.err"
status=$?
"$moved/bin/glymmer" --render --glyphs 0 --output "$work/refused" 2>"$work/refused.err"
refused=$?
set -e
[ "$status" -eq 2 ] || fail "--configure with a setting option exited $status, expected 2"
[ "$refused" -eq 2 ] || fail "--glyphs 0 exited $refused, expected 2"
grep -q -- "--glyphs" "$work/refused.err" || fail "the refusal does not name --glyphs"

# ---- Every option of the description is documented -----------------------
manual=$(sed 's/\\-/-/g' "$moved/share/man/man6/glymmer.6")
help=$("$moved/bin/glymmer" --help)
options=$(grep -o 'arg[a-z-]*="--[a-z-]*' "$description" | sed 's/.*"//' | sort -u)
[ "$(wc -w <<<"$options")" -ge 9 ] || fail "too few options in the description: $options"
for option in $options; do
  grep -q -- "$option" <<<"$manual" || fail "the manual page does not mention $option"
  grep -q -- "$option" <<<"$help" || fail "glymmer --help does not mention $option"
done
# The manual pages carry the program's version.
version=$("$moved/bin/glymmer" --version)
for page in man6/glymmer.6 man1/glymmer-pack.1; do
  head -n 1 "$moved/share/man/$page" | grep -qF "\"Glymmer ${version#glymmer }\"" ||
    fail "$page does not carry the version of $version: $(head -n 1 "$moved/share/man/$page")"
done
if command -v groff >/dev/null; then
  warnings=$(groff -man -ww -z "$moved/share/man/man6/glymmer.6" "$moved/share/man/man1/glymmer-pack.1" 2>&1)
  [ -z "$warnings" ] || fail "the manual page does not format cleanly: $warnings"
fi
echo "install checks passed: $root moved to $moved renders alone"
