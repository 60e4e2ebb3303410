#!/usr/bin/env bash
# Glymmer's Debian package as a user gets it, installed nowhere: scripts/package
# builds it (dpkg-buildpackage from a copy of the source tree, lintian with no
# errors). Unpacked with dpkg-deb -x into a temporary root, it must hold
# exactly what the build's install rules put under the prefix /usr, plus
# Debian's copyright and changelog, with the manual pages compressed and the
# README (which the settings dialog opens) as it is. Its control file takes
# its dependencies from the libraries of both display systems and only
# recommends xscreensaver; its version is the program's. The unpacked
# program and its hack link render a frame from the unpacked resources.
#
#   tests/check_package.sh BUILD_DIR [SOURCE_DIR]
#
# Installs nothing: the packaging tools and Build-Depends must be there
# (scripts/setup installs them).
set -euo pipefail
build=$(cd "$1" && pwd)
source_dir=$(cd "${2:-$(dirname "$0")/..}" && pwd)
xshot=$build/tools/glymmer-xshot/glymmer-xshot
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }
. "$source_dir/tests/support/session.sh"
command -v dpkg-deb >/dev/null || { echo "not a Debian system: no dpkg-deb"; exit 77; }
for tool in dpkg-buildpackage dh lintian; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/setup installs it)"
done
(cd "$source_dir" && dpkg-checkbuilddeps) ||
  fail "Build-Depends are missing (scripts/setup installs them)"
[ -x "$build/app/glymmer" ] && [ -x "$xshot" ] || fail "build glymmer and glymmer-xshot in $build first"

# ---- Build ----------------------------------------------------------------
"$source_dir/scripts/package" --out "$work/out" >"$work/package.log" 2>&1 ||
  { tail -n 30 "$work/package.log" >&2; fail "scripts/package failed"; }
version=$("$build/app/glymmer" --version)
version=${version#glymmer }
deb=$work/out/glymmer_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || fail "no $(basename "$deb") for the program's version $version: $(ls "$work/out")"
! grep '^E: ' "$work/out/lintian.txt" || fail "lintian reports errors"

# ---- Its control file ------------------------------------------------------
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = glymmer ] || fail "the package is called $(field Package)"
[ "$(field Version)" = "$version" ] || fail "the package's version $(field Version) is not $version"
depends=$(field Depends)
for library in libc6 libegl1 libx11-6 libwayland-client0 libgtk-3-0; do
  grep -q "\b$library\b" <<<"$depends" || fail "Depends lacks $library: $depends"
done
! grep -q xscreensaver <<<"$depends" || fail "the package requires xscreensaver: $depends"
grep -q '\bxscreensaver\b' <<<"$(field Recommends)" || fail "xscreensaver is not recommended"

# ---- Its files --------------------------------------------------------------
root=$work/root
dpkg-deb -x "$deb" "$root"
stage=$work/stage
DESTDIR=$stage cmake --install "$build" --prefix /usr >"$work/install.log" 2>&1 ||
  { cat "$work/install.log" >&2; fail "cmake --install failed"; }
listing() { (cd "$1" && find . -mindepth 1 -printf '%y %p\n' | sort); }
doc=./usr/share/doc/glymmer
{
  listing "$stage" | sed 's|^\(f \./usr/share/man/.*\)|\1.gz|'
  echo "f $doc/copyright"
  echo "f $doc/changelog.gz"
} | sort >"$work/expected"
listing "$root" >"$work/packaged"
diff "$work/expected" "$work/packaged" >&2 ||
  fail "the package's files (>) differ from the install rules' (<)"
for f in usr/bin/glymmer usr/bin/glymmer-pack usr/share/glymmer/zentari.vostrelli \
  usr/share/glymmer/GlymmerSS.ui usr/share/glymmer/pics/Quorinda.jpg \
  usr/share/xscreensaver/config/glymmer.xml usr/share/man/man6/glymmer.6.gz \
  usr/share/man/man1/glymmer-pack.1.gz usr/share/doc/glymmer/README.md \
  usr/share/doc/glymmer/NOTICE usr/share/doc/glymmer/NOTICE-fonts; do
  [ -f "$root/$f" ] || fail "the package has no /$f"
done
[ "$(readlink "$root/usr/libexec/xscreensaver/glymmer")" = ../../bin/glymmer ] ||
  fail "the hack is not a link to ../../bin/glymmer"

# ---- The unpacked program renders from its own place ------------------------
mkdir "$work/elsewhere"
cd "$work/elsewhere"
[ "$("$root/usr/bin/glymmer" --version)" = "glymmer $version" ] ||
  fail "the unpacked glymmer says $("$root/usr/bin/glymmer" --version)"
for program in usr/bin/glymmer usr/libexec/xscreensaver/glymmer; do
  out=$work/frames-${program##*/}-${program%%/*}
  XDG_CONFIG_HOME=$work/config "$root/$program" --render --verbose --size 160x120 --seconds 6 \
    --at 6 --seed 1000 --glyphs 1500 --output "$out" 2>"$out.log" ||
    { cat "$out.log" >&2; fail "the unpacked /$program failed"; }
  grep -qx "glymmer: resources in $root/usr/share/glymmer" "$out.log" ||
    fail "/$program did not use the unpacked resources: $(head -n 1 "$out.log")"
  frame=$(ls "$out"/*.png | head -n 1)
  shot=$("$xshot" --file "$frame") || fail "cannot read $frame"
  is_lit "$shot" || fail "/$program rendered a black frame: $shot"
done
echo "package check passed: $(basename "$deb"), $(wc -l <"$work/packaged") paths," \
  "lintian: $(grep -c '^[EWI]: ' "$work/out/lintian.txt" || true) tags; rendered $shot"
