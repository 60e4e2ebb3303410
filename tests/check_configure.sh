#!/bin/bash
# glymmer --configure end to end on a private Xvfb server: the settings
# dialog appears; Escape ends it and stores nothing; Return presses Save,
# which stores every setting; SIGTERM ends it; without a display it says so.
# The start-up row below the module's sheet: its delay goes to the program's
# own store, its switch installs and removes the autostart entry, one that
# systemd's xdg-autostart generator takes, or says why it cannot.
# Usage: check_configure.sh BUILD_DIR SOURCE_DIR
set -u
build=$1
glymmer=$build/app/glymmer
work=$(mktemp -d)
xvfb_pid=

cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  exit 1
}
. "$(dirname "$0")/support/session.sh"

# No display: a clear message and a failure status.
env -u DISPLAY XDG_CONFIG_HOME="$work/none" "$glymmer" --configure 2>"$work/err"
rc=$?
[ $rc -eq 1 ] || fail "without a display the status is $rc, expected 1"
grep -q "needs a display" "$work/err" || fail "without a display it said: $(cat "$work/err")"

start_xvfb 1024x768
export NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory XDG_CONFIG_HOME="$work/config"
# The watcher that the start-up switch starts keeps its lock here, and finds
# no session bus (none is autolaunched for it).
export XDG_RUNTIME_DIR="$work/run" DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-bus"
mkdir -m 700 "$work/run"
watcher_lock="$work/run/glymmer-idle-$DISPLAY.lock"
# The process id of the session's running watcher, or nothing.
watcher() {
  local pid
  pid=$(cat "$watcher_lock" 2>/dev/null) || return 0
  [ -n "$pid" ] && grep -qa -- '--idle' "/proc/$pid/cmdline" 2>/dev/null && echo "$pid"
  return 0
}
store="$work/config/glymmer/kvGlymmerSS.ini"
program_store="$work/config/glymmer/glymmer.ini"
entry="$work/config/autostart/glymmer.desktop"
mkdir -p "$work/config/glymmer"

# Starts the dialog and waits until its window is there.
start() {
  "$glymmer" --configure ${extra:-} 2>"$work/err" &
  pid=$!
  win=$(timeout 10 xdotool search --sync --name '^Glymmer Settings$' 2>/dev/null | head -n1)
  [ -n "$win" ] || fail "the settings window did not appear ($(cat "$work/err"))"
}

# press_until_gone KEY [WINDOW [STATUS]]: presses a key in the window (the
# dialog's by default) until the program ends (at most 10 s); the program
# must end with STATUS (0 by default).
press_until_gone() {
  local window=${2:-$win} expected=${3:-0}
  for _ in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || break
    xdotool windowfocus "$window" 2>/dev/null
    xdotool key "$1" 2>/dev/null
    sleep 0.2
  done
  kill -0 "$pid" 2>/dev/null && { kill "$pid"; fail "$1 did not end the dialog"; }
  wait "$pid"
  rc=$?
  [ $rc -eq "$expected" ] || fail "the dialog ended with status $rc after $1, expected $expected"
}

printf '[kvGlymmerSS]\nversion=1.0\nPicSize=500\nPicPath=/some/pics\n' >"$store"

# Escape: cancels; the store stays as it was.
cp "$store" "$work/before"
start
if [ -n "${GLYMMER_KEEP_FRAMES:-}" ] && command -v convert >/dev/null; then
  mkdir -p "$build/test-output"
  sleep 0.5
  convert x:root "$build/test-output/configure.png"
fi
press_until_gone Escape
cmp -s "$store" "$work/before" || fail "Escape changed the store: $(cat "$store")"
[ -e "$program_store" ] && fail "Escape wrote the program's store"

# SIGTERM: ends at once, storing nothing.
start
kill -TERM "$pid"
for _ in $(seq 50); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$pid" 2>/dev/null && { kill -KILL "$pid"; fail "SIGTERM did not end the dialog"; }
wait "$pid"
rc=$?
[ $rc -eq 0 ] || fail "the dialog ended with status $rc after SIGTERM"
cmp -s "$store" "$work/before" || fail "SIGTERM changed the store"

# Return: Save has the focus and writes every key but "version", the values
# the controls can show (absent keys read 0, which the controls bring to
# their lowest values).
start
press_until_gone Return
expected='[kvGlymmerSS]
version=1.0
PicSize=500
PicPath=/some/pics/
MainMonitorOnly=false
ShowCaption=false
MLFirst=false
CharSize=1
CharType=0
PicDelay=5'
[ "$(cat "$store")" = "$expected" ] || fail "after Save the store holds:
$(cat "$store")
expected:
$expected"
# The start-up row: the default delay, stored beside the module's store with
# the whole-library box; no autostart entry while its switch is off.
[ "$(cat "$program_store")" = "$(printf '[glymmer]\nWholeLibrary=false\nIdleDelay=5')" ] ||
  fail "after Save the program's store holds: $(cat "$program_store")"
[ -e "$entry" ] && fail "Save with the switch off made an autostart entry"

# The row's delay shows the stored one; a new one typed, the switch turned on
# (Tab goes from the delay to it) and Save: the delay is stored and the
# autostart entry runs this glymmer's watcher. Opened again, the switch shows
# the entry; turned off and saved, the entry is gone.
printf '[glymmer]\nIdleDelay=12\n' >"$program_store"
start
xdotool windowfocus "$win" 2>/dev/null
sleep 0.3
xdotool key alt+t 2>/dev/null
sleep 0.2
xdotool key ctrl+a 2>/dev/null
xdotool type --delay 20 7 2>/dev/null
xdotool key Tab space 2>/dev/null
if [ -n "${GLYMMER_KEEP_FRAMES:-}" ] && command -v convert >/dev/null; then
  sleep 0.3
  convert x:root "$build/test-output/configure-start-row.png"
fi
press_until_gone alt+s
grep -qx 'IdleDelay=7' "$program_store" || fail "the typed delay was not stored: $(cat "$program_store")"
[ -f "$entry" ] || fail "the switch turned on made no autostart entry"
grep -qx "Exec=$(readlink -f "$glymmer") --idle" "$entry" ||
  fail "the autostart entry does not run this glymmer's watcher: $(cat "$entry")"
grep -qx 'Type=Application' "$entry" && grep -qx '\[Desktop Entry\]' "$entry" ||
  fail "the autostart entry is not a desktop entry: $(cat "$entry")"
# ... and the switch took effect at once: the session's watcher runs.
for _ in $(seq 50); do [ -n "$(watcher)" ] && break; sleep 0.1; done
running=$(watcher)
[ -n "$running" ] || fail "turning the switch on started no watcher"
start
xdotool windowfocus "$win" 2>/dev/null
sleep 0.3
xdotool key alt+t Tab space 2>/dev/null
press_until_gone alt+s
[ -e "$entry" ] && fail "the switch turned off left the autostart entry"
[ -z "$(watcher)" ] || fail "turning the switch off left the watcher running"

# A watcher that does not end (stopped: SIGTERM waits) is not reported gone:
# the switch turned off says so in an alert.
start
xdotool windowfocus "$win" 2>/dev/null
sleep 0.3
xdotool key alt+t Tab space 2>/dev/null
press_until_gone alt+s
for _ in $(seq 50); do [ -n "$(watcher)" ] && break; sleep 0.1; done
running=$(watcher)
[ -n "$running" ] || fail "turning the switch on started no watcher"
kill -STOP "$running"
start
xdotool windowfocus "$win" 2>/dev/null
sleep 0.3
xdotool key alt+t Tab space alt+s 2>/dev/null
alert=$(timeout 30 xdotool search --sync --name '^ERROR$' 2>/dev/null | head -n1)
kill -CONT "$running"
[ -n "$alert" ] || { kill "$pid"; fail "no alert for a watcher that did not end ($(cat "$work/err"))"; }
press_until_gone Return "$alert" 1
grep -q "^ERROR: Glymmer's running idle watcher did not end" "$work/err" ||
  fail "the alert does not say the watcher did not end: $(cat "$work/err")"

# The entry names the program by its absolute path, even where PATH finds it,
# and systemd's xdg-autostart generator (what starts entries on GNOME and
# KDE) makes of it a unit that systemd takes: here from a folder with a space.
# From a folder with a %, which no entry can carry (the generator keeps it,
# and systemd reads it as a specifier), an alert says so and nothing is
# written.
generator=/usr/lib/systemd/user-generators/systemd-xdg-autostart-generator
[ -x "$generator" ] || fail "systemd's xdg-autostart generator is missing (scripts/setup installs systemd)"
mkdir -p "$work/per%cent" "$work/with space" "$work/units"
cp "$glymmer" "$work/per%cent/glymmer"
cp "$glymmer" "$work/with space/glymmer"
switch_on_and_save() {
  xdotool windowfocus "$win" 2>/dev/null
  sleep 0.3
  xdotool key alt+t Tab space 2>/dev/null
  sleep 0.2
  xdotool key alt+s 2>/dev/null
}
glymmer=$work/per%cent/glymmer start
switch_on_and_save
alert=$(timeout 10 xdotool search --sync --name '^ERROR$' 2>/dev/null | head -n1)
[ -n "$alert" ] || { kill "$pid"; fail "no alert for a path with a % ($(cat "$work/err"))"; }
press_until_gone Return "$alert" 1
grep -q "^ERROR: The autostart entry .* could not be written (Glymmer's own path $work/per%cent/glymmer holds the character %" \
  "$work/err" || fail "the alert does not name the %: $(cat "$work/err")"
[ -e "$entry" ] && fail "an entry was written for a path with a %: $(cat "$entry")"
PATH="$work/with space:$PATH" glymmer="$work/with space/glymmer" start
switch_on_and_save
press_until_gone alt+s
# The switch started a watcher of that program; it is not wanted here.
for _ in $(seq 50); do [ -n "$(watcher)" ] && break; sleep 0.1; done
running=$(watcher)
[ -z "$running" ] || kill "$running"
grep -qx "Exec=\"$work/with space/glymmer\" --idle" "$entry" ||
  fail "the entry does not run the program by its absolute path: $(cat "$entry")"
XDG_CONFIG_HOME=$work/config XDG_CONFIG_DIRS=$work/none "$generator" "$work/units" "$work/units" "$work/units"
unit=$work/units/app-glymmer@autostart.service
grep -qx "ExecStart=:\"$work/with space/glymmer\" --idle" "$unit" ||
  fail "the generator made no unit that runs the entry: $(cat "$unit" 2>&1)"
verified=$(systemd-analyze verify --man=no "$unit" 2>&1) || fail "systemd refuses the unit: $verified"
rm "$entry"

# The desktop's own timers, read as it keeps them, in words in the row: with
# GNOME's defaults (blank and lock after 5 minutes) turning the switch on
# proposes 4 minutes. On Plasma, whose locker here comes after 3 minutes, a
# delay of 3 with the switch on is kept, with a warning in the row.
end_watcher() {
  for _ in $(seq 50); do [ -n "$(watcher)" ] && break; sleep 0.1; done
  running=$(watcher)
  [ -z "$running" ] || kill "$running"
}
# shows_row TEXT: until the dialog's --verbose lines say the row shows TEXT.
shows_row() {
  for _ in $(seq 100); do grep -q "the start-up row says: $1" "$work/err" && return 0; sleep 0.1; done
  kill "$pid"
  fail "the row never said \"$1\": $(grep 'row says' "$work/err")"
}
keep_shot() {
  [ -z "${GLYMMER_KEEP_FRAMES:-}" ] || "$build/tools/glymmer-xshot/glymmer-xshot" --window "$win" \
    --png "$build/test-output/configure-$1.png" >/dev/null
}
printf '[glymmer]\nIdleDelay=5\n' >"$program_store"
XDG_CURRENT_DESKTOP=GNOME extra=--verbose start
shows_row "GNOME blanks and locks the screen after 5 minutes\.$"
xdotool windowfocus "$win" 2>/dev/null
xdotool key alt+t Tab space 2>/dev/null
for _ in $(seq 100); do [ "$(grep -c 'row says' "$work/err")" -ge 2 ] && break; sleep 0.1; done
keep_shot gnome
press_until_gone alt+s
grep -qx 'IdleDelay=4' "$program_store" || fail "no shorter delay was proposed on GNOME: $(cat "$program_store")"
end_watcher
printf '[glymmer]\nIdleDelay=3\n' >"$program_store"
printf '[Daemon]\nAutolock=true\nTimeout=3\n' >"$work/config/kscreenlockerrc"
printf '[AC][DimDisplay]\nidleTime=600000\n' >"$work/config/powermanagementprofilesrc"
XDG_CURRENT_DESKTOP=KDE extra=--verbose start
shows_row "KDE Plasma locks the screen after 3 minutes; KDE Plasma dims the screen after 10 minutes\. Glymmer's 3 minutes come no sooner"
keep_shot kde
press_until_gone alt+s
grep -qx 'IdleDelay=3' "$program_store" || fail "the delay set by hand was not kept: $(cat "$program_store")"
end_watcher
rm "$entry" "$work/config/kscreenlockerrc" "$work/config/powermanagementprofilesrc"

# A number typed and not yet confirmed counts: Alt+N goes to the number of
# letters, Alt+S presses Save without leaving the field.
start
xdotool windowfocus "$win" 2>/dev/null
sleep 0.3
xdotool key alt+n ctrl+a 2>/dev/null
xdotool type --delay 20 777 2>/dev/null
press_until_gone alt+s
grep -qx 'PicSize=777' "$store" || fail "the typed number was not saved:
$(cat "$store")"

# A Save that cannot be written: a modal alert over the dialog says so and
# waits for OK; then the dialog ends with status 1 and one line. (A folder
# beneath a plain file cannot be made, even by root.)
printf 'not a folder' >"$work/blocker"
XDG_CONFIG_HOME="$work/blocker/config" start
xdotool windowfocus "$win" 2>/dev/null
sleep 0.3
xdotool key Return 2>/dev/null
alert=$(timeout 10 xdotool search --sync --name '^ERROR$' 2>/dev/null | head -n1)
[ -n "$alert" ] || { kill "$pid"; fail "no alert over the dialog ($(cat "$work/err"))"; }
kill -0 "$pid" 2>/dev/null || fail "the dialog ended before the alert was dismissed"
sleep 0.3
shot=$("$build/tools/glymmer-xshot/glymmer-xshot" --window "$alert" \
  ${GLYMMER_KEEP_FRAMES:+--png "$build/test-output/configure-alert.png"}) ||
  fail "cannot read the alert's window"
is_lit "$shot" || fail "the alert shows nothing: $shot"
grep -q "^ERROR: The settings could not be saved to $work/blocker/config/glymmer/kvGlymmerSS.ini" \
  "$work/err" || fail "the alert's line on standard error is missing: $(cat "$work/err")"
# OK (Return) dismisses the alert; then the dialog ends, with status 1.
press_until_gone Return "$alert" 1
grep -qx "glymmer: the settings were not saved" "$work/err" ||
  fail "no line saying the settings were not saved: $(cat "$work/err")"

echo "PASS"
