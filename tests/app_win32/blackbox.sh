#!/usr/bin/env bash
# The built Windows program from the outside, under Wine and X, inside the
# Wine test bed (wine_bed.sh --host: a private /dev whose only serial lines
# are the simulators this script starts and links as COM ports):
#   blackbox.sh FWUPDATER-WIN.EXE DEVICE-SIMULATOR
# 1. "Open" shows the file dialog; with COM1 and COM3 present no port is
#    chosen at start: the user types the firmware's path and clicks
#    "UPDATE!", which gives ERROR:2;
# 2. the user chooses COM1 in the list and clicks "UPDATE!"; the device stops
#    reading for a while in the middle: "Information", and the device
#    received the file byte for byte;
# 3. the next entry, COM3, answers "ok": ERROR:4 after the header alone;
# 4. closing the window in the middle of a 1 MiB update ends the program at
#    once with exit status 0, and nothing holds the line any more.
set -uo pipefail
program=$(realpath "$1") device=$(realpath "$2")
[ -n "${FWU_BED_DIR:-}" ] || { echo "blackbox: run me through wine_bed.sh --host" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../app/harness.sh"
. "$here/wine_harness.sh"

fail() {
  w_unlink
  echo "FAIL: $*" >&2
  [ -n "$h_work" ] && tail -n 20 "$h_work"/program.err >&2 2>/dev/null
  exit 1
}

h_init
h_display || fail "no X display"
cd "$h_work"

launch() { w_launch "$program" || fail "the window did not appear"; app=$w_app; }

# answer TITLE [SECONDS]: waits for the result box, which must be called
# TITLE, and presses its button.
answer() {
  local box
  box=$(w_result_box "${2:-30}") || fail "no result box; expected '$1'"
  [ "$(xdotool getwindowname "$box")" = "$1" ] || fail "the result box says '$(xdotool getwindowname "$box")', expected '$1'"
  w_answer "$box" || fail "the '$1' box did not close"
}

# --- 1 to 3: no port chosen, an update, an error on the second port ------
h_firmware "$h_work/board.fw" $((16 + 65536))
h_device dev1 "$device" --firmware "$h_work/board.fw" --output "$h_work/dev1.bin" || fail "simulator"
h_device dev3 "$device" -q --body-length 65536 --answer1 ok --output "$h_work/dev3.bin" || fail "simulator"
w_link COM1 "$dev1"
w_link COM3 "$dev3"
launch

# The file dialog (its library loads on this first use) opens and is cancelled.
w_click 345 80
dialog=$(h_window "Please choose file to load" 30) || true
[ -n "$dialog" ] || fail "Open showed no file dialog"
xdotool windowfocus --sync "$dialog" 2>/dev/null || true
xdotool key --clearmodifiers Escape
h_gone "Please choose file to load" 10 || fail "the file dialog did not close"
echo "ok: Open shows the file dialog"

w_firmware "$h_work/board.fw"
w_update
answer "ERROR:2"
echo "ok: no port is chosen at start; UPDATE! gave ERROR:2"

w_choose 1
w_update
# The device stops reading for two seconds in the middle of the body, as a
# board busy writing its flash may: the program writes ahead of it (no drain
# after each byte), so the line stays full for most of that time, and not one
# byte may go missing.
h_wait_line "$dev1_log" 'receiving the body' 30 || fail "the update did not start: $(cat "$dev1_log")"
kill -STOP "$dev1_pid"
sleep 2
kill -CONT "$dev1_pid"
answer "Information" 60
h_device_done "$dev1_pid" 10 devstatus || fail "the simulator on COM1 did not finish"
[ "$devstatus" = 0 ] || fail "the simulator on COM1 reports status $devstatus: $(cat "$dev1_log")"
cmp -s "$h_work/board.fw" "$h_work/dev1.bin" || fail "the device on COM1 did not receive the file byte for byte"
echo "ok: COM1 chosen in the list; the device paused for 2 s; the update ended in Information; the device received all $((16 + 65536)) bytes"

w_choose 1
w_update
answer "ERROR:4"
h_device_done "$dev3_pid" 10 || fail "the simulator on COM3 did not finish"
[ "$(stat -c %s "$h_work/dev3.bin")" = 16 ] || fail "the device on COM3 should have received the header only"
echo "ok: the next entry is COM3; its wrong answer gave ERROR:4"

w_close
h_exit status "$app" 10 || fail "the program did not end after a close request"
[ "$status" = 0 ] || fail "exit status $status after a close request"
echo "ok: the close button ends the program with status 0"

# --- 4. close in the middle of a 1 MiB update ---------------------------
h_firmware "$h_work/big.fw" $((16 + 1048576))
# The simulator gives up one second after the body stops and says how far it got.
h_device dev1 "$device" --firmware "$h_work/big.fw" --timeout 1000 || fail "simulator"
w_unlink
w_link COM1 "$dev1"
launch
w_choose 1
w_firmware "$h_work/big.fw"
w_update
h_wait_line "$dev1_log" 'receiving the body' 30 || fail "the update did not start: $(cat "$dev1_log")"
start=$(date +%s%N)
w_close
h_exit status "$app" 5 || fail "the program did not end within 5 s of a close request during an update"
elapsed=$(( ($(date +%s%N) - start) / 1000000 ))
[ "$status" = 0 ] || fail "exit status $status after a close during an update"
# Nothing but the device itself may still hold the line: not the program,
# and not the Wine server that opened the port for it.
line=$(realpath "$dev1")
holders=$(for fd in /proc/[0-9]*/fd/*; do
  pid=${fd#/proc/}; pid=${pid%%/*}
  [ "$pid" = "$dev1_pid" ] && continue
  [ "$(readlink "$fd" 2>/dev/null)" = "$line" ] && echo "$pid $(cat /proc/$pid/comm 2>/dev/null)"
done | sort -u)
[ -z "$holders" ] || fail "the line is still held by: $holders"
h_device_done "$dev1_pid" 10 || fail "the simulator did not notice the end of the program"
got=$(grep -oE 'the body stopped after [0-9]+ of 1048576 bytes' "$dev1_log" | grep -oE '[0-9]+' | head -n1)
[ -n "$got" ] && [ "$got" -gt 0 ] && [ "$got" -lt 1048576 ] ||
  fail "the update was not in progress at the close: $(cat "$dev1_log")"
echo "ok: closed during an update ($got of 1048576 body bytes sent): exit 0 after ${elapsed} ms; the port is released"
w_unlink
exit 0
