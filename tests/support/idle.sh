# Shell helpers for the idle watcher's checks (check_idle_*.sh): reading the
# watcher's --verbose log, waiting on its saver, looking at the screen.
# Sourced by a script that has made a temporary folder `work`, sets `log` to
# the watcher's log, and defines `fail MESSAGE` and `shot` (a glymmer-xshot
# line for the whole screen).

# watch LOG ARGS...: starts `glymmer --idle` with a delay of 2 s and ARGS,
# its --verbose lines going to LOG (which becomes `log`); on a Wayland
# session (`wl` set) as the session's user. Sets watcher.
watch() {
  log=$1
  shift
  if [ -n "${wl:-}" ]; then
    run_as "$wl" "$glymmer" --idle --after 2 --verbose "$@" >"$log" 2>&1 &
  else
    "$glymmer" --idle --after 2 --verbose "$@" >"$log" 2>&1 &
  fi
  watcher=$!
  pids+=("$watcher")
}

# seen TEXT: how many lines of the log say TEXT.
seen() { grep -c -- "$1" "$log" 2>/dev/null || true; }

# wait_seen TEXT N [SECONDS]: until the log says TEXT N times (10 s at most).
wait_seen() {
  local _
  for _ in $(seq $((${3:-10} * 10))); do
    [ "$(seen "$1")" -ge "$2" ] && return 0
    sleep 0.1
  done
  fail "the watcher said \"$1\" $(seen "$1") times, not $2: $(tail -n 3 "$log" | tr '\n' ' ')"
}

# saver: the process of the saver the watcher started last.
saver() { sed -n 's/.*the saver starts (.*process \([0-9]*\)).*/\1/p' "$log" | tail -n 1; }

# alive PID: whether the process runs (a zombie no one reaps does not).
alive() { [ -r "/proc/$1/stat" ] && ! grep -q '^[0-9]* (.*) Z' "/proc/$1/stat" 2>/dev/null; }

# wait_gone PID SECONDS: until the process has ended.
wait_gone() {
  local _
  for _ in $(seq $(($2 * 10))); do
    alive "$1" || return 0
    sleep 0.1
  done
  return 1
}

# since START: seconds from START (an $EPOCHREALTIME) until now.
since() { awk -v a="$1" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.2f", b - a }'; }
at_least() { awk -v v="$1" -v t="$2" 'BEGIN { exit !(v >= t) }'; }

# glymmer-xshot's fields, and whether one is above a threshold.
field() { sed -n "s/.* $1=\([0-9a-f.]*\).*/\1/p" <<<"$2"; }
above() { awk -v v="$(field "$1" "$2")" -v t="$3" 'BEGIN { exit !(v > t) }'; }

# wait_covered: until the mosaic hides the red under it; wait_uncovered
# [SHARE]: until the red shows again over more than SHARE of the screen (0.3
# unless told). 10 s at most.
wait_covered() {
  local _ shot=""
  for _ in $(seq 50); do
    shot=$(shot) || true
    [ -n "$shot" ] && above lit "$shot" 0.02 && ! above red "$shot" 0.001 && return 0
    sleep 0.2
  done
  fail "the saver does not cover the screen: $shot"
}
wait_uncovered() {
  local _ shot=""
  for _ in $(seq 50); do
    shot=$(shot) || true
    [ -n "$shot" ] && above red "$shot" "${1:-0.3}" && return 0
    sleep 0.2
  done
  fail "the screen does not show again: $shot"
}

# wait_end PID SECONDS: until the process ends; sets status.
wait_end() {
  wait_gone "$1" "$2" || return 1
  status=0
  wait "$1" || status=$?
}

# saver_after_delay SOURCE MODE: a watcher started now (its log
# $work/watch.log) shows its saver, `glymmer MODE`, no sooner than its delay
# of 2 s, covering the screen, and names SOURCE.
saver_after_delay() {
  local started=$EPOCHREALTIME
  watch "$work/watch.log"
  wait_seen "the saver starts" 1
  at_least "$(since "$started")" 1.9 || fail "the saver came $(since "$started") s after the start"
  grep -q "$1; the saver (glymmer $2)" "$log" ||
    fail "the watcher does not say its source and its saver (glymmer $2)"
  wait_covered
}

# idle_cycle SOURCE KEY...: a Wayland watcher started now (its log
# $work/watch.log) shows the saver no sooner than its delay of 2 s, covering
# the screen, and names SOURCE and the saver layer; KEY (a command run as the
# session's user) ends it; the next idle period brings it back, and pointer
# travel ends that one; a visible window holding an idle inhibitor keeps it
# away until the window closes. Needs `watch`, `wl`, `helper`, `run_as`, `as`.
idle_cycle() {
  local source=$1 inhibitor
  shift
  saver_after_delay "$source" --saver
  as "$wl" "$@"
  wait_seen "the saver ended" 1
  wait_uncovered
  wait_seen "the saver starts" 2
  wait_covered
  as "$wl" "$helper" pointer 40 30
  wait_seen "the saver ended" 2
  run_as "$wl" "$helper" window 00ff00 inhibit &
  inhibitor=$!
  pids+=("$inhibitor")
  sleep 5
  [ "$(seen "the saver starts")" -eq 2 ] || fail "the saver came over an idle inhibitor"
  kill "$inhibitor"
  wait_seen "the saver starts" 3
}

# kill_watcher: with the saver covering the screen, kill -9 of the watcher
# takes the saver along.
kill_watcher() {
  local pid
  wait_covered
  pid=$(saver)
  disown "$watcher"
  kill -KILL "$watcher"
  wait_gone "$pid" 8 || fail "the saver outlives its watcher killed with -9"
}

# end_watcher: with a saver up, SIGTERM ends the watcher with status 0, and
# its saver in order.
end_watcher() {
  local pid
  pid=$(saver)
  kill -TERM "$watcher"
  wait_end "$watcher" 10 || fail "SIGTERM does not end the watcher"
  [ "$status" -eq 0 ] || fail "SIGTERM ended the watcher with status $status"
  alive "$pid" && fail "the saver outlives its watcher ended by SIGTERM"
  grep -q "view 1 destroyed" "$log" || fail "the saver did not end in order"
}

# idle_home: a home, configuration (3000 letters, the built-in pictures) and
# runtime folder of its own under `work` for the watcher and its saver.
idle_home() {
  mkdir -p "$work/config/glymmer" "$work/runtime" "$work/home"
  chmod 700 "$work/runtime"
  write_store "$work/config/glymmer/kvGlymmerSS.ini" "$source_dir/resources/pics/" 3000
  export XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/runtime HOME=$work/home
}
