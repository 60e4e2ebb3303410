# Shell helpers for the idle watcher's checks (check_idle_*.sh): reading the
# watcher's --verbose log and waiting on its saver. Sourced by a script that
# has set `log` to the watcher's log and defined `fail MESSAGE`.

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
