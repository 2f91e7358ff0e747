#!/usr/bin/env bash
# fwupdater-win.exe driven from the command line under Wine, without any
# display, inside the Wine test bed (wine_bed.sh --host: a private /dev whose
# only serial lines are the simulators this script starts and links as COM
# ports):
#   command_line.sh FWUPDATER-WIN.EXE DEVICE-SIMULATOR
# 1. every outcome prints its line on standard output and exits with its
#    result code; a success delivers the file byte for byte;
# 2. --list prints exactly the two simulated ports;
# 3. usage errors exit 64 and print nothing on standard output.
set -uo pipefail
program=$(realpath "$1") device=$(realpath "$2")
[ -n "${FWU_BED_DIR:-}" ] || { echo "command_line: run me through wine_bed.sh --host" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../app/harness.sh"
. "$here/wine_harness.sh"
unset DISPLAY

fail() {
  w_unlink
  echo "FAIL: $*" >&2
  exit 1
}

h_init
cd "$h_work"

# run VAR-STATUS VAR-OUT ARGS...: runs the program under Wine, keeping its
# status and standard output (the line ends Windows-style there).
run() {
  local -n _status=$1 _out=$2
  shift 2
  _status=0
  wine "$program" "$@" >"$h_work/out" 2>"$h_work/err" || _status=$?
  _out=$(tr -d '\r' <"$h_work/out")
}

h_firmware "$h_work/board.fw" $((16 + 4000))
winpath=$(winepath -w "$h_work/board.fw" 2>/dev/null)

# check STATUS LINE PORT-SIMULATOR-ARGS...: one update on COM5 against a new simulator.
check() {
  local want=$1 line=$2
  shift 2
  h_device dev "$device" -q --firmware "$h_work/board.fw" "$@"
  w_link COM5 "$dev"
  run status out --port COM5 --file "$winpath"
  h_stop_device "$dev_pid"
  w_unlink
  [ "$status" = "$want" ] && [ "$out" = "$line" ] || fail "expected $want '$line', got $status '$out' ($(head -c 300 "$h_work/err"))"
  echo "ok: $want $line"
}
check 0 "Information: Device update!" --output "$h_work/received.bin"
cmp -s "$h_work/board.fw" "$h_work/received.bin" || fail "the device did not receive the file byte for byte"
echo "ok: the body arrived byte for byte"
check 4 "ERROR:4: No correct answer device!" --answer1 ok
check 5 "ERROR:5: Update wrong!" --answer2 ok
check 3 "ERROR:3: Device does not respond!" --silent1

run status out --port COM5 --file "$winpath.missing"
[ "$status" = 1 ] && [ "$out" = "ERROR:1: Firmware missing!" ] || fail "missing file: $status '$out'"
run status out --port COM42 --file "$winpath"
[ "$status" = 2 ] && [ "$out" = "ERROR:2: Can't open the serial port: COM42" ] || fail "no port: $status '$out'"
echo "ok: 1 and 2"

h_device dev1 "$device" -q --body-length 0
h_device dev3 "$device" -q --body-length 0
w_link COM1 "$dev1"
w_link COM3 "$dev3"
run status out --list
w_unlink
h_stop_device "$dev1_pid"; h_stop_device "$dev3_pid"
[ "$status" = 0 ] && [ "$(echo "$out" | tr '\n' ' ')" = "COM1 COM3 " ] || fail "--list: $status '$out'"
echo "ok: --list printed COM1 and COM3"

for args in "--port" "--port COM1" "--bogus"; do
  # shellcheck disable=SC2086
  run status out $args
  [ "$status" = 64 ] && [ -z "$out" ] || fail "'$args': status $status, output '$out'"
done
run status out --version
[ "$status" = 0 ] && [ "$out" = "fwupdater-win 1.0.2" ] || fail "--version: $status '$out'"
echo "ok: usage errors exit 64; --version"
exit 0
