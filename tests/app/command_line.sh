#!/usr/bin/env bash
# The built program driven from the command line, with no display at all:
#   command_line.sh FWUPDATER DEVICE-SIMULATOR
# 1. every outcome prints its line on standard output and exits with its
#    result code; a success delivers the file byte for byte, with progress
#    lines on standard error;
# 2. --list prints exactly the simulated /dev/ttyUSB0 and /dev/ttyUSB3
#    (private mount namespace; skipped, with a note, where none can be made);
# 3. usage errors exit 64 with a message and open nothing;
# 4. Ctrl+C in the middle of the body exits 130, says so, and releases the port.
set -uo pipefail
program=$(realpath "$1") device=$(realpath "$2")
. "$(dirname "$0")/harness.sh"
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM

fail() { echo "FAIL: $*" >&2; exit 1; }
h_init
cd "$h_work"

# run VAR-STATUS VAR-OUT ARGS...: runs the program, keeping status, standard
# output and standard error (in $h_work/err).
run() {
  local -n _status=$1 _out=$2
  shift 2
  _status=0
  _out=$("$program" "$@" 2>"$h_work/err") || _status=$?
}

# --- 1. outcomes ----------------------------------------------------------
h_firmware "$h_work/board.fw" $((16 + 20000))
h_device dev "$device" -q --firmware "$h_work/board.fw" --output "$h_work/received.bin"
run status out --port "$dev" --file "$h_work/board.fw"
[ "$status" = 0 ] && [ "$out" = "Information: Device update!" ] || fail "success: status $status, output '$out'"
h_device_done "$dev_pid" 10 devstatus && [ "$devstatus" = 0 ] || fail "the simulator did not see a clean update"
cmp -s "$h_work/board.fw" "$h_work/received.bin" || fail "the device did not receive the file byte for byte"
[ "$(grep -c '^progress: ' "$h_work/err")" = 10 ] || fail "expected ten progress lines, got: $(cat "$h_work/err")"
echo "ok: 0 Information: Device update! (byte-exact, ten progress lines)"

run status out --port "$dev" --file "$h_work/missing.fw"
[ "$status" = 1 ] && [ "$out" = "ERROR:1: Firmware missing!" ] || fail "missing file: status $status, output '$out'"
run status out --port "$h_work" --file "$h_work/board.fw"
[ "$status" = 2 ] && [ "$out" = "ERROR:2: Can't open the serial port: $h_work" ] || fail "bad port: status $status, output '$out'"
echo "ok: 1 and 2"

check_device() {  # EXPECTED-STATUS EXPECTED-LINE SIMULATOR-ARGS...
  local want=$1 line=$2
  shift 2
  h_device dev "$device" -q --firmware "$h_work/board.fw" "$@"
  run status out --port "$dev" --file "$h_work/board.fw"
  h_stop_device "$dev_pid"
  [ "$status" = "$want" ] && [ "$out" = "$line" ] || fail "expected $want '$line', got $status '$out'"
  echo "ok: $want $line"
}
check_device 3 "ERROR:3: Device does not respond!" --silent1
check_device 4 "ERROR:4: No correct answer device!" --answer1 ok
check_device 5 "ERROR:5: Update wrong!" --answer2 ok

# --- 2. the port list --------------------------------------------------------
if namespace=$(h_namespace); then
  H_NAMESPACE=$namespace
  h_device dev0 "$device" -q --body-length 0
  h_device dev3 "$device" -q --body-length 0
  h_launch app ttyUSB0="$dev0" ttyUSB3="$dev3" -- "$program" --list
  h_exit status "$app" 30 || fail "--list did not end"
  [ "$status" = 0 ] || fail "--list exit status $status"
  listed=$(tr '\n' ' ' <"$h_work/program.out")
  [ "$listed" = "/dev/ttyUSB0 /dev/ttyUSB3 " ] || fail "--list printed '$listed'"
  h_stop_device "$dev0_pid"; h_stop_device "$dev3_pid"
  echo "ok: --list printed /dev/ttyUSB0 and /dev/ttyUSB3"
else
  echo "note: no private mount namespace here; --list was not checked"
fi

# --- 3. usage errors -------------------------------------------------------
for args in "--port" "--port $dev" "--file x" "--bogus" "--list --port x" "--port a --port b --file f" "extra"; do
  # shellcheck disable=SC2086
  run status out $args
  [ "$status" = 64 ] && [ -z "$out" ] && grep -q '^usage: ' "$h_work/err" || fail "'$args': status $status, output '$out'"
done
run status out --version
[ "$status" = 0 ] && [ "$out" = "fwupdater 1.0.1" ] || fail "--version: $status '$out'"
run status out --help
[ "$status" = 0 ] && echo "$out" | grep -q -- '--port PORT --file FIRMWARE' || fail "--help: $status"
echo "ok: usage errors exit 64; --help and --version"

# --- 4. Ctrl+C during the body -----------------------------------------------
h_firmware "$h_work/big.fw" $((16 + 1048576))
h_device dev "$device" --firmware "$h_work/big.fw" --timeout 2000
"$program" --port "$dev" --file "$h_work/big.fw" >"$h_work/int.out" 2>"$h_work/int.err" &
cli=$!
h_pids+=("$cli")
h_wait_line "$dev_log" 'receiving the body' 30 || fail "the update did not start: $(cat "$dev_log")"
kill -INT "$cli"
h_exit status "$cli" 10 || fail "the program did not end within 10 s of Ctrl+C"
[ "$status" = 130 ] || fail "exit status $status after Ctrl+C"
grep -q '^Interrupted: the update did not finish; the device may need the update again.$' "$h_work/int.out" ||
  fail "no interruption line: $(cat "$h_work/int.out")"
# Released: another program can take the line's lock at once.
flock -n "$dev" true || fail "the port is still held after Ctrl+C"
h_stop_device "$dev_pid"
echo "ok: Ctrl+C exits 130 and releases the port"
exit 0
