#!/usr/bin/env bash
# The installed hack and its description under the real xscreensaver, on a
# private Xvfb. Glymmer is installed as a Debian package would be (prefix
# /usr, staged in a temporary folder); a programs line is made from the
# installed glymmer.xml the way the settings dialog makes one, with every
# option moved off its default.
#  - The daemon runs the installed hack (found through xscreensaver's hack
#    folder) with exactly those options; the hack uses the installed
#    resources and the options' values, draws the mosaic, and leaves the
#    stored preferences as they were.
#  - Where a private mount namespace can be had, xscreensaver's settings
#    dialog sees the installed description in the one folder it reads them
#    from, lists Glymmer with its description, understands every option of
#    the line (it drops options it cannot match to the description) and runs
#    the installed hack with them in its preview, which shows the mosaic in a
#    window whose visual the dialog chose.
#
#   tests/check_xscreensaver_install.sh BUILD_DIR [SOURCE_DIR [--installed]]
#
# --installed checks Glymmer as its package installed it on this machine
# (scripts/package --try) instead of staging the build's install.
#
# Run as root, the daemon and the dialog run as the user "nobody", since
# xscreensaver launches no hacks for root.
set -euo pipefail
build=$(cd "$1" && pwd)
source_dir=$(cd "${2:-$(dirname "$0")/..}" && pwd)
installed=${3:-}
xshot=$build/tools/glymmer-xshot/glymmer-xshot
config_dir=/usr/share/xscreensaver/config  # where Debian's dialog reads descriptions

fail() {
  echo "FAIL: $*" >&2
  for f in "${log:-}" "${dialog_log:-}"; do [ -f "$f" ] && tail -n 15 "$f" >&2; done
  exit 1
}
. "$source_dir/tests/support/session.sh"
need_tools Xvfb xscreensaver xscreensaver-command
[ -x "$xshot" ] || fail "build glymmer-xshot in $build first"

work=$(mktemp -d)
trap end_started EXIT
chmod 755 "$work"
cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }

# ---- Install as a package would ------------------------------------------
if [ "$installed" = --installed ]; then
  stage=""
  hack_dir=/usr/libexec/xscreensaver
  description=$config_dir/glymmer.xml
else
  stage=$work/stage
  DESTDIR=$stage cmake --install "$build" --prefix /usr >"$work/install.log" 2>&1 ||
    { cat "$work/install.log" >&2; fail "cmake --install failed (build everything first)"; }
  under() { case "$1" in /*) echo "$stage$1" ;; *) echo "$stage/usr/$1" ;; esac; }
  hack_dir=$(under "$(cache GLYMMER_XSCREENSAVER_HACK_DIR)")
  description=$(under "$(cache GLYMMER_XSCREENSAVER_CONFIG_DIR)")/glymmer.xml
fi
[ -e "$hack_dir/glymmer" ] && [ -f "$description" ] || fail "the hack or its description is missing"

# ---- A programs line from the description --------------------------------
# One element a line.
elements=$(tr '\n\t' '  ' <"$description" | sed 's/</\n</g')
attr() { sed -n "s/.* $1=\"\([^\"]*\)\".*/\1/p" <<<"$2"; }
mkdir -p "$work/pics"
cp "$source_dir/resources/pics/Chelsea.jpg" "$work/pics/"
args=$(attr arg "$(grep '^<command ' <<<"$elements")")
[ "$args" = "--root" ] || fail "the description's command is '$args', expected --root"
expected=()  # "name value" pairs the hack's settings line must show
while IFS= read -r e; do
  case "$e" in
    "<number "*)
      # A slider to the middle of its range, a spin button to a fifth of
      # its default: off the defaults, and a mosaic quick to draw.
      low=$(attr low "$e")
      high=$(attr high "$e")
      default=$(attr default "$e")
      if [ "$(attr type "$e")" = slider ]; then
        value=$(((low + high) / 2))
      else
        value=$((default / 5 >= low ? default / 5 : low))
      fi
      [ "$value" != "$default" ] || value=$high
      option=$(attr arg "$e")
      args+=" ${option/\%/$value}"
      name=${option%% *}
      expected+=("${name#--} $value,")
      ;;
    "<boolean "*)
      args+=" $(attr arg-set "$e")$(attr arg-unset "$e")"
      ;;
    "<file "*)
      args+=" $(attr arg "$e" | sed "s|%|$work/pics|")"
      expected+=("folder $work/pics/,")
      ;;
    "<option "*arg-set=*)
      choice=$(attr arg-set "$e")  # the last one of the menu
      ;;
  esac
done <<<"$elements"
args+=" $choice"
expected+=("case ${choice#* }," "builtin-first off," "captions off," "main-monitor-only on")
[ ${#expected[@]} -eq 8 ] || fail "expected 8 settings from the description, found: ${expected[*]}"

# ---- The daemon -----------------------------------------------------------
as_user=()
user=$(id -u)
if [ "$user" -eq 0 ]; then
  user=65534
  as_user=(setpriv --reuid=$user --regid=$user --clear-groups --)
fi
home=$work/home
config=$work/config
store=$config/glymmer/kvGlymmerSS.ini
mkdir -p "$home" "$config/glymmer"
write_store "$store" "$stage/usr/share/glymmer/pics/"
cp "$store" "$work/store.before"
# --verbose is the engine's, not the description's: the daemon passes it on.
saver_file "glymmer $args --verbose" >"$home/.xscreensaver"
chown -R "$user:$user" "$home" "$config" "$work/pics"

# Large enough for the settings dialog, whose preview must lie on the screen.
start_xvfb 1024x768
pids+=("$xvfb_pid")

# Only the staged hack folder and the system's folders on the path: the daemon
# must find the hack where xscreensaver looks for hacks.
path=$hack_dir:/usr/local/bin:/usr/bin:/bin
log=$work/xscreensaver.log
env HOME="$home" XDG_CONFIG_HOME="$config" PATH="$path" DISPLAY="$DISPLAY" "${as_user[@]}" \
  xscreensaver --no-splash --verbose >"$log" 2>&1 &
pids+=($!)
wait_for_daemon
xscreensaver-command -select 1 >/dev/null || fail "xscreensaver-command -select 1 failed"

# The hack the daemon started: the installed program, with the options.
hack_pid=""
for _ in $(seq 100); do
  hack_pid=$(sed -n 's/.* forked "glymmer .*" in pid \([0-9]*\) .*/\1/p' "$log" | head -n 1)
  [ -n "$hack_pid" ] && break
  sleep 0.1
done
[ -n "$hack_pid" ] || fail "the daemon started no glymmer"
pids+=("$hack_pid")
[ "$(readlink "/proc/$hack_pid/exe")" = "$stage/usr/bin/glymmer" ] ||
  fail "the daemon ran $(readlink "/proc/$hack_pid/exe"), not the installed glymmer"
cmdline=$(tr '\0' ' ' <"/proc/$hack_pid/cmdline")
[ "$cmdline" = "glymmer $args --verbose " ] ||
  fail "the daemon ran '$cmdline', expected 'glymmer $args --verbose'"
for _ in $(seq 100); do
  grep -q "glymmer: view 1: settings:" "$log" && break
  sleep 0.1
done
grep -qx "glymmer: resources in $stage/usr/share/glymmer" "$log" ||
  fail "the hack did not use the installed resources"
settings=$(grep "glymmer: view 1: settings:" "$log") || fail "the hack reported no settings"
for pair in "${expected[@]}"; do
  grep -qF -- "$pair" <<<"$settings, " || fail "the hack's settings lack '$pair': $settings"
done
wait_until_lit "$xshot"
is_lit "$shot" || fail "the screen stays black: $shot"
xscreensaver-command -exit >/dev/null 2>&1 || true
for _ in $(seq 100); do
  kill -0 "$hack_pid" 2>/dev/null || break
  sleep 0.1
done
cmp -s "$store" "$work/store.before" || fail "running the hack changed the stored preferences"
echo "daemon: ran the installed hack as $cmdline"

# ---- The settings dialog --------------------------------------------------
if ! command -v xscreensaver-settings >/dev/null; then
  echo "settings dialog not checked: xscreensaver-settings is not installed"
  exit 0
fi
# A staged description is shown to the dialog in a private mount namespace.
shown=()
if [ -n "$stage" ]; then
  if [ "$(id -u)" -ne 0 ] || ! unshare -m --propagation private true 2>/dev/null; then
    echo "settings dialog not checked: it reads descriptions only from $config_dir, and no private mount namespace can be had to show it the staged one"
    exit 0
  fi
  shown=(unshare -m --propagation private sh -c 'mount --bind "$1" "$2" && shift 2 && exec "$@"'
    sh "$(dirname "$description")" "$config_dir")
fi
saver_file "glymmer $args" >"$home/.xscreensaver"
chown "$user:$user" "$home/.xscreensaver"
dialog_log=$work/dialog.log
: >"$dialog_log"
env HOME="$home" XDG_CONFIG_HOME="$config" PATH="$path" DISPLAY="$DISPLAY" \
  "${shown[@]}" "${as_user[@]}" xscreensaver-settings --debug >"$dialog_log" 2>&1 &
pids+=($!)
# The dialog may restart its preview as it settles: follow the latest one
# until it shows the mosaic. Its window has a visual of the dialog's choosing,
# which need not be one that EGL names.
previews() { sed -n 's/.*forked \([0-9]*\) (glymmer).*/\1/p' "$dialog_log"; }
preview=""
shot=""
for _ in $(seq 150); do
  preview=$(previews | tail -n 1)
  if [ -n "$preview" ] && [ "$(readlink "/proc/$preview/exe" 2>/dev/null)" = "$stage/usr/bin/glymmer" ]; then
    preview_window=$(tr '\0' '\n' <"/proc/$preview/cmdline" | sed -n '/^--window-id$/{n;p}')
    shot=$("$xshot" --window "$preview_window" 2>/dev/null) || true
    if [ -n "$shot" ] && is_lit "$shot"; then break; fi
  fi
  sleep 0.1
done
for p in $(previews); do pids+=("$p"); done
grep -q "reading $config_dir/glymmer.xml" "$dialog_log" || fail "the dialog did not read glymmer.xml"
! grep -q "WARNING: glymmer" "$dialog_log" ||
  fail "the dialog does not understand the line: $(grep "WARNING: glymmer" "$dialog_log")"
[ -n "$preview" ] || fail "the dialog ran no preview"
composed=$(sed -n 's/.*scheduling preview "\(.*\)"/\1/p' "$dialog_log" | tail -n 1)
for word in $args; do
  grep -qF -- " $word" <<<" $composed" || fail "the dialog dropped $word: it runs '$composed'"
done
[ "$(readlink "/proc/$preview/exe")" = "$stage/usr/bin/glymmer" ] ||
  fail "the dialog's preview is not the installed glymmer"
[ -n "$preview_window" ] || fail "the preview was not given the dialog's window"
is_lit "$shot" ||
  fail "the dialog's preview stays black: $shot $(grep '^glymmer:' "$dialog_log")"
kill "$preview" 2>/dev/null || true
cmp -s "$store" "$work/store.before" || fail "the preview changed the stored preferences"
echo "dialog: read $config_dir/glymmer.xml, kept every option and previews with '$composed'"
