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

# start_sway NAME [VARIABLE=VALUE...]: a sway with the config $work/NAME.conf
# and those variables; sets sway_pid, sway_display and sway_socket.
start_sway() {
  local name=$1 before
  shift
  before=$(ls "$runtime")
  env -u DISPLAY HOME="$work/home" XDG_RUNTIME_DIR="$runtime" WLR_LIBINPUT_NO_DEVICES=1 \
    WLR_RENDERER=pixman "$@" "${as_user[@]}" sway -c "$work/$name.conf" >"$work/$name.log" 2>&1 &
  sway_pid=$!
  pids+=("$sway_pid")
  # Killing a compositor is part of the check, not news.
  disown "$sway_pid"
  sway_display=""
  sway_socket=""
  local _ entry
  for _ in $(seq 100); do
    for entry in $(ls "$runtime"); do
      grep -qx "$entry" <<<"$before" && continue
      case $entry in
        wayland-[0-9]) sway_display=$entry ;;
        sway-ipc.*.sock) sway_socket=$runtime/$entry ;;
      esac
    done
    [ -n "$sway_display" ] && [ -n "$sway_socket" ] && return 0
    kill -0 "$sway_pid" 2>/dev/null || break
    sleep 0.1
  done
  return 1
}

# msg DISPLAY SOCKET ARGS...: a swaymsg command to that sway.
msg() { as "$1" env SWAYSOCK="$2" swaymsg "${@:3}" >/dev/null; }
