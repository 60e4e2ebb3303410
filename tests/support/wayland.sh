# Shell helpers for running Wayland compositors and their clients in a check
# or benchmark: sway, headless or nested, and clients of it, as the user
# "nobody" when run as root (sway refuses root). Sourced after session.sh by a
# script that has made a temporary folder `work`, an array `pids` of
# processes to end, and defined `fail MESSAGE`.

# wayland_session GLYPHS: the folders a session needs under $work (the
# runtime folder, a home, and a preference store with that many glyphs and the
# built-in pictures), owned by the user the session runs as; sets as_user and
# runtime.
wayland_session() {
  as_user=()
  if [ "$(id -u)" -eq 0 ]; then
    as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups --)
  fi
  chmod 755 "$work"
  runtime=$work/runtime
  mkdir -p "$runtime" "$work/config/glymmer" "$work/home"
  write_store "$work/config/glymmer/kvGlymmerSS.ini" "$source_dir/resources/pics/" "$1"
  chmod 700 "$runtime"
  [ ${#as_user[@]} -eq 0 ] || chown -R 65534:65534 "$runtime" "$work/config" "$work/home"
}

# as WAYLAND_DISPLAY COMMAND...: runs a client of that compositor as the
# user. run_as does it in place of the calling (sub)shell, so that a client
# started with & has the pid in $!.
run_as() {
  local display=$1
  shift
  exec env -u DISPLAY XDG_RUNTIME_DIR="$runtime" WAYLAND_DISPLAY="$display" HOME="$work/home" \
    XDG_CONFIG_HOME="$work/config" "${as_user[@]}" "$@"
}
as() { (run_as "$@"); }

# start_compositor NAME [VARIABLE=VALUE...] -- COMMAND...: runs COMMAND, a
# Wayland compositor, as the user, headless where it follows wlroots'
# variables, with those variables and its output in $work/NAME.log; waits
# until the display it makes appears (10 s at most). Sets compositor_pid and
# compositor_display; false when no display appears.
start_compositor() {
  local name=$1 before variables=() _ entry
  shift
  while [ "$1" != -- ]; do
    variables+=("$1")
    shift
  done
  shift
  before=$(ls "$runtime")
  env -u DISPLAY HOME="$work/home" XDG_RUNTIME_DIR="$runtime" WLR_LIBINPUT_NO_DEVICES=1     WLR_RENDERER=pixman "${variables[@]}" "${as_user[@]}" "$@" >"$work/$name.log" 2>&1 &
  compositor_pid=$!
  pids+=("$compositor_pid")
  # Killing a compositor is part of a check, not news.
  disown "$compositor_pid"
  compositor_display=""
  for _ in $(seq 100); do
    for entry in $(ls "$runtime"); do
      grep -qx "$entry" <<<"$before" && continue
      [[ $entry =~ ^wayland-[0-9]$ ]] && compositor_display=$entry && return 0
    done
    kill -0 "$compositor_pid" 2>/dev/null || break
    sleep 0.1
  done
  return 1
}

# start_sway NAME [VARIABLE=VALUE...]: a sway with the config $work/NAME.conf
# and those variables; sets sway_pid, sway_display and sway_socket.
start_sway() {
  local name=$1 _ socket
  shift
  start_compositor "$name" "$@" -- sway -c "$work/$name.conf" || return 1
  sway_pid=$compositor_pid
  sway_display=$compositor_display
  # sway names its socket by its process (env and setpriv become sway).
  for _ in $(seq 100); do
    for socket in "$runtime"/sway-ipc.*."$sway_pid".sock; do
      [ -S "$socket" ] && sway_socket=$socket && return 0
    done
    kill -0 "$sway_pid" 2>/dev/null || break
    sleep 0.1
  done
  return 1
}

# msg DISPLAY SOCKET ARGS...: a swaymsg command to that sway.
msg() { as "$1" env SWAYSOCK="$2" swaymsg "${@:3}" >/dev/null; }
