#!/usr/bin/env bash
# The CPU a hack costs, as xscreensaver runs it: glymmer -root with its
# defaults on a 1280x720 Xvfb, beside xscreensaver's photopile and glmatrix
# (xscreensaver-gl-extra), one after another in the same run, each on Mesa's
# no-op driver (GALLIUM_NOOP=1: the CPU side of a GPU driver, nothing drawn).
# Prints each one's cores in use (CPU seconds a second, from /proc, after 3 s
# of start-up) and glymmer's frames a second.
#
#   bench/hack_cpu.sh BUILD_DIR [OTHER_BUILD_DIR...] [--seconds N] [--rounds N]
#                                                       (default 20 s, 1 round)
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
seconds=20
rounds=1
builds=()
while [ $# -gt 0 ]; do
  case $1 in
    --seconds) seconds=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    *) builds+=("$(cd "$1" && pwd)"); shift ;;
  esac
done
if [ ${#builds[@]} -eq 0 ]; then
  echo "usage: bench/hack_cpu.sh BUILD_DIR [OTHER_BUILD_DIR...] [--seconds N] [--rounds N]" >&2
  exit 2
fi
hacks=/usr/libexec/xscreensaver
fail() { echo "bench/hack_cpu.sh: $*" >&2; exit 1; }
. "$source_dir/tests/support/session.sh"
for hack in photopile glmatrix; do
  [ -x "$hacks/$hack" ] || fail "$hack is not installed (apt-get install xscreensaver-gl-extra)"
done

hack_session 1280x720

# measure NAME COMMAND...: the command's cores in use over `seconds`.
measure() {
  local name=$1 pid cores
  shift
  env HOME="$work/home" XDG_CONFIG_HOME="$work/config" GALLIUM_NOOP=1 "$@" >"$work/run.log" 2>&1 &
  pid=$!
  sleep 3
  cores=$(cores_in_use "$pid" "$seconds")
  kill -TERM "$pid"
  wait "$pid" 2>/dev/null || true
  printf '%-40s %.3f cores %s\n' "$name" "$cores" \
    "$(grep -o '[0-9.]* frames per second' "$work/run.log" || true)"
}

echo "hacks on a 1280x720 Xvfb, GALLIUM_NOOP=1, ${seconds} s each"
for _ in $(seq "$rounds"); do
  for b in "${builds[@]}"; do measure "$(basename "$b") glymmer" "$b/app/glymmer" -root --verbose; done
  measure photopile "$hacks/photopile" -root
  measure glmatrix "$hacks/glmatrix" -root
done
