# Shell helpers for the check_*.sh scripts: the preference store, a private
# Xvfb, xscreensaver's settings file and daemon, and reading the screen.
# Sourced by a script that has made a temporary folder `work` and defined
# `fail MESSAGE`.

# need_tools TOOL...: fails unless every TOOL is on the path.
need_tools() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/setup installs it)"
  done
}

# need_built PROGRAM...: fails unless each of the build's programs is there.
need_built() {
  local program
  for program in "$@"; do
    [ -x "$program" ] || fail "build $(basename "$program") in $build first"
  done
}

# ask COPROC WORDS...: sends WORDS as one line to the coprocess named COPROC
# (a helper that serves commands) and fails unless it answers "ok" within 30 s.
ask() {
  local -n channel=$1
  local reply
  shift
  echo "$*" >&"${channel[1]}"
  read -r -t 30 -u "${channel[0]}" reply || fail "the helper did not answer \"$*\""
  [ "$reply" = ok ] || fail "$*: $reply"
}

# end_started: an EXIT trap. Ends the processes listed in `pids`, last started
# first (hacks and clients before the X server they draw on), and removes
# `work`.
pids=()
end_started() {
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null || true
    wait "${pids[i]}" 2>/dev/null || true
  done
  rm -rf "$work"
}

# share_suppressions: the sanitizer pass names its suppressions by a path
# that a session's user ("nobody") may not reach; a copy in `work` it can.
share_suppressions() {
  if [[ "${LSAN_OPTIONS:-}" =~ suppressions=([^:]*) ]] && [ -f "${BASH_REMATCH[1]}" ]; then
    cp "${BASH_REMATCH[1]}" "$work/lsan.supp"
    chmod 644 "$work/lsan.supp"
    export LSAN_OPTIONS=${LSAN_OPTIONS/suppressions=${BASH_REMATCH[1]}/suppressions=$work/lsan.supp}
  fi
}

# write_store FILE PICPATH [PICSIZE [CHARSIZE [CHARTYPE [PICDELAY]]]]
# A current-version store, captions on and the built-in pictures first.
write_store() {
  cat >"$1" <<EOF2
[kvGlymmerSS]
version=1.0
MainMonitorOnly=false
ShowCaption=true
MLFirst=true
CharSize=${4:-20}
CharType=${5:-0}
PicSize=${3:-15000}
PicDelay=${6:-120}
PicPath=$2
EOF2
}

# start_xvfb WIDTHxHEIGHT: a private X server on a free display (Xvfb names
# it on the descriptor given); sets DISPLAY and xvfb_pid.
start_xvfb() {
  Xvfb -displayfd 3 -screen 0 "${1}x24" -nolisten tcp -noreset 3>"$work/display" 2>/dev/null &
  xvfb_pid=$!
  local _
  for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    sleep 0.05
  done
  [ -s "$work/display" ] || fail "Xvfb did not start"
  export DISPLAY=":$(head -n 1 "$work/display")"
}

# saver_file PROGRAM_LINE: a ~/.xscreensaver that runs that one hack, always
# it, with no fading, locking or splash.
saver_file() {
  cat <<EOF2
timeout:	0:30:00
cycle:		0:00:00
lock:		False
fade:		False
unfade:		False
splash:		False
dpmsEnabled:	False
mode:		one
selected:	0
programs:	"Glymmer"  $1 \\n\\

EOF2
}

# wait_for_daemon: until the xscreensaver daemon on DISPLAY answers.
wait_for_daemon() {
  local _
  for _ in $(seq 100); do
    xscreensaver-command -time >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  fail "the xscreensaver daemon does not answer"
}

# The share of lit pixels in a glymmer-xshot line, and whether it shows more
# than black.
lit() { sed -n 's/.* lit=\([0-9.]*\) .*/\1/p' <<<"$1"; }
is_lit() { awk -v l="$(lit "$1")" 'BEGIN { exit !(l > 0.02) }'; }

# The image's hash in a glymmer-xshot line.
hash_of() { sed -n 's/.* hash=\([0-9a-f]*\).*/\1/p' <<<"$1"; }

# wait_until_moved SHOT XSHOT [ARGS...]: screenshots for up to 10 s until one
# differs from the glymmer-xshot line SHOT; sets `moved` to the last. A loaded
# machine may hold a frame back for a while; only a picture that never moves
# is a fault.
wait_until_moved() {
  local before=$1 _
  shift
  moved=""
  for _ in $(seq 100); do
    moved=$("$@") || true
    [ -n "$moved" ] && [ "$(hash_of "$moved")" != "$(hash_of "$before")" ] && return 0
    sleep 0.1
  done
  return 0
}

# wait_until_lit XSHOT [ARGS...]: screenshots for up to 10 s until one is lit;
# sets `shot` to the last.
wait_until_lit() {
  local _
  shot=""
  for _ in $(seq 100); do
    shot=$("$@") || true
    [ -n "$shot" ] && is_lit "$shot" && return 0
    sleep 0.1
  done
  return 0
}

# cores_in_use PID SECONDS: the CPU seconds a second (user and system, from
# /proc) the process takes over the next SECONDS, for the benchmarks.
cores_in_use() {
  local before after
  before=$(awk '{ print $14 + $15 }' "/proc/$1/stat")
  sleep "$2"
  after=$(awk '{ print $14 + $15 }' "/proc/$1/stat")
  awk -v t=$((after - before)) -v s="$2" -v hz="$(getconf CLK_TCK)" 'BEGIN { printf "%.4f", t / hz / s }'
}

# hack_session WIDTHxHEIGHT: for a benchmark of the hack, a temporary folder
# `work` with a home and a store of the built-in pictures, and a private Xvfb
# of that size; both go when the script exits.
hack_session() {
  work=$(mktemp -d)
  xvfb_pid=""
  trap '[ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null; rm -rf "$work"' EXIT
  mkdir -p "$work/config/glymmer" "$work/home"
  write_store "$work/config/glymmer/kvGlymmerSS.ini" "$source_dir/resources/pics/"
  start_xvfb "$1"
}
