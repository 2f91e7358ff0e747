# Shell helpers shared by the black-box test (tests/app/blackbox.sh) and the
# demonstration (scripts/demo): a display, simulated serial ports in a private
# mount namespace, and waiting for windows. Every wait is bounded.
# Source it, then call h_init once; h_cleanup runs on exit.

h_here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
h_pids=()
h_xvfb=""
h_work=""

h_init() {
  h_work=$(mktemp -d /tmp/fwu-run.XXXXXX)
  trap h_cleanup EXIT
}

h_cleanup() {
  local pid
  for pid in "${h_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${h_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  [ -n "$h_xvfb" ] && { kill "$h_xvfb" 2>/dev/null; wait "$h_xvfb" 2>/dev/null; }
  [ -n "${H_KEEP:-}" ] || rm -rf "$h_work"
}

# Prints the command that makes a private mount namespace, or fails.
h_namespace() {
  if [ "$(id -u)" -eq 0 ] && unshare -m true 2>/dev/null; then
    echo "unshare -m"
  elif unshare -Urm true 2>/dev/null; then
    echo "unshare -Urm"
  else
    return 1
  fi
}

# Uses $DISPLAY when it works, else starts an Xvfb of its own.
h_display() {
  if [ -n "${DISPLAY:-}" ] && timeout 5 xdotool getdisplaygeometry >/dev/null 2>&1; then return 0; fi
  local n
  for n in $(seq 150 199); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    h_xvfb=$!
    export DISPLAY=":$n"
    local i
    for i in $(seq 100); do
      # An Xvfb that ended lost the number to another run starting at the same moment.
      kill -0 "$h_xvfb" 2>/dev/null || break
      [ -e "/tmp/.X11-unix/X$n" ] && timeout 5 xdotool getdisplaygeometry >/dev/null 2>&1 && return 0
      sleep 0.1
    done
    kill -0 "$h_xvfb" 2>/dev/null && return 1
    wait "$h_xvfb" 2>/dev/null
    h_xvfb=""
  done
  return 1
}

# h_device VAR SIMULATOR ARGS...: starts the device simulator; VAR gets the
# path of its line, VAR_pid its process, VAR_log the file of its messages.
h_device() {
  local var=$1 program=$2; shift 2
  # A new file each time: the redirection below happens only in the child,
  # so a reused name could still show the previous device's path.
  local out
  out=$(mktemp "$h_work/$var.XXXXXX")
  "$program" "$@" >"$out" 2>"$out.err" &
  local pid=$!
  h_pids+=("$pid")
  local i
  for i in $(seq 100); do
    [ -s "$out" ] && break
    sleep 0.05
  done
  [ -s "$out" ] || { echo "the device simulator did not start: $(cat "$out.err")" >&2; return 1; }
  printf -v "$var" '%s' "$(head -n1 "$out")"
  printf -v "${var}_pid" '%s' "$pid"
  printf -v "${var}_log" '%s' "$out.err"
}

# h_stop_device PID [VAR]: stops a device (at once if it is still running);
# VAR gets its exit status.
h_stop_device() {
  kill -TERM "$1" 2>/dev/null || true
  h_device_done "$1" 5 "${2:-}"
}

# h_device_done PID SECONDS [VAR]: waits for a device to end by itself.
h_device_done() {
  local i h_rc
  for i in $(seq $(( $2 * 20 ))); do
    if ! kill -0 "$1" 2>/dev/null; then
      h_rc=0
      wait "$1" 2>/dev/null || h_rc=$?
      [ -n "${3:-}" ] && printf -v "$3" '%s' "$h_rc"
      return 0
    fi
    sleep 0.05
  done
  return 1
}

# h_launch VAR PORT-LINKS -- COMMAND...: runs COMMAND in a private mount
# namespace where each NAME=TARGET link is /dev/NAME; VAR gets its process id.
h_launch() {
  local var=$1; shift
  local links=()
  while [ "$1" != "--" ]; do links+=("$1"); shift; done
  shift
  $H_NAMESPACE "$h_here/private_dev.sh" "${links[@]}" -- "$@" \
    >>"$h_work/program.out" 2>>"$h_work/program.err" &
  local pid=$!
  h_pids+=("$pid")
  printf -v "$var" '%s' "$pid"
}

# h_window NAME [SECONDS]: prints the id of the visible window called NAME.
h_window() {
  timeout "${2:-20}" xdotool search --sync --onlyvisible --name "^$1\$" 2>/dev/null | head -n1
}

# h_gone NAME [SECONDS]: waits until no visible window is called NAME.
h_gone() {
  local i
  for i in $(seq $(( ${2:-10} * 10 ))); do
    xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1 || return 0
    sleep 0.1
  done
  return 1
}

# h_click WINDOW X Y: a left click at window coordinates.
h_click() {
  xdotool mousemove --window "$1" "$2" "$3" click 1
}

# h_exit VAR PID SECONDS: waits for the process to end; VAR gets its exit
# status. Fails when it is still running after SECONDS.
h_exit() {
  local i
  for i in $(seq $(( $3 * 20 ))); do
    if ! kill -0 "$2" 2>/dev/null; then
      local h_status=0
      wait "$2" || h_status=$?
      printf -v "$1" '%s' "$h_status"
      return 0
    fi
    sleep 0.05
  done
  return 1
}

# h_wait_file FILE SECONDS: waits until FILE exists.
h_wait_file() {
  local i
  for i in $(seq $(( $2 * 20 ))); do
    [ -e "$1" ] && return 0
    sleep 0.05
  done
  return 1
}

# h_wait_line FILE PATTERN SECONDS: waits until a line of FILE matches PATTERN.
h_wait_line() {
  local i
  for i in $(seq $(( $3 * 20 ))); do
    grep -q -- "$2" "$1" 2>/dev/null && return 0
    sleep 0.05
  done
  return 1
}

# h_firmware FILE BYTES: a firmware file of the given size with varied content.
h_firmware() {
  head -c "$2" /dev/urandom >"$1"
}
