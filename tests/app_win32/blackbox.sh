#!/usr/bin/env bash
# The built Windows program from the outside, under Wine and X, inside the
# Wine test bed (wine_bed.sh --host: a private /dev whose only serial lines
# are the simulators this script starts and links as COM ports):
#   blackbox.sh FWUPDATER-WIN.EXE DEVICE-SIMULATOR
# 1. with COM1 and COM3 present no port is chosen at start: the user types
#    the firmware's path and clicks "UPDATE!", which gives ERROR:2;
# 2. the user chooses COM1 in the list and clicks "UPDATE!": "Information",
#    and the device received the file byte for byte;
# 3. the next entry, COM3, answers "ok": ERROR:4 after the header alone;
# 4. closing the window in the middle of a 1 MiB update ends the program at
#    once with exit status 0, and nothing holds the line any more.
set -uo pipefail
program=$(realpath "$1") device=$(realpath "$2")
[ -n "${FWU_BED_DIR:-}" ] || { echo "blackbox: run me through wine_bed.sh --host" >&2; exit 2; }
. "$(dirname "$0")/../app/harness.sh"

fail() {
  echo "FAIL: $*" >&2
  [ -n "$h_work" ] && tail -n 20 "$h_work"/program.err >&2 2>/dev/null
  exit 1
}

h_init
h_display || fail "no X display"
title="Update firmware 1.0.2"
cd "$h_work"

# link COMn LINE: the device on LINE becomes COMn for the next Wine session.
link() { ln -sfn "$2" "$WINEPREFIX/dosdevices/${1,,}"; }

launch() {
  wine "$program" >>"$h_work/program.out" 2>>"$h_work/program.err" &
  app=$!
  h_pids+=("$app")
  win=$(h_window "$title" 60) || true
  [ -n "$win" ] || fail "the window did not appear"
  # Wine draws the frame itself (no window manager): the client area is
  # centred horizontally in the frame and sits at its bottom.
  local geometry width height
  geometry=$(xdotool getwindowgeometry --shell "$win")
  width=$(sed -n 's/^WIDTH=//p' <<<"$geometry")
  height=$(sed -n 's/^HEIGHT=//p' <<<"$geometry")
  frame_x=$(( (width - 400) / 2 ))
  frame_y=$(( height - 200 - frame_x ))
  frame_w=$width
}

# click X Y: a left click at client coordinates of the main window.
click() { xdotool mousemove --window "$win" $((frame_x + $1)) $((frame_y + $2)) click --delay 0 1; }

# choose N: opens the port list with a click and moves N entries down with
# the keyboard, then takes the entry with Return.
choose() {
  click 45 80
  local i
  for i in $(seq "$1"); do xdotool key --clearmodifiers Down; done
  xdotool key --clearmodifiers Return
}

# firmware PATH: replaces the field's text with PATH, typed.
firmware() {
  click 190 80
  xdotool key --clearmodifiers ctrl+a
  xdotool type --delay 2 "Z:${1//\//\\}"
}

# answer TITLE: waits for the result box called TITLE and presses its button.
answer() {
  local box
  box=$(h_window "$1" "${2:-30}") || true
  [ -n "$box" ] || fail "no '$1' box (visible: $(xdotool search --onlyvisible --name '^(Information|ERROR:[0-9])$' getwindowname 2>/dev/null | tr '\n' ' '))"
  xdotool windowfocus --sync "$box" 2>/dev/null || true
  xdotool key --clearmodifiers Return
  h_gone "$1" 10 || fail "the '$1' box did not close"
}

# close_window: the close button at the right end of Wine's title bar.
close_window() {
  xdotool mousemove --window "$win" $((frame_w - frame_x - 10)) $((frame_y / 2 + 1)) click --delay 0 1
}

# --- 1 to 3: no port chosen, an update, an error on the second port ------
h_firmware "$h_work/board.fw" $((16 + 65536))
h_device dev1 "$device" -q --firmware "$h_work/board.fw" --output "$h_work/dev1.bin" || fail "simulator"
h_device dev3 "$device" -q --body-length 65536 --answer1 ok --output "$h_work/dev3.bin" || fail "simulator"
link COM1 "$dev1"
link COM3 "$dev3"
launch

firmware "$h_work/board.fw"
click 210 175
answer "ERROR:2"
echo "ok: no port is chosen at start; UPDATE! gave ERROR:2"

choose 1
click 210 175
answer "Information" 60
h_device_done "$dev1_pid" 10 devstatus || fail "the simulator on COM1 did not finish"
[ "$devstatus" = 0 ] || fail "the simulator on COM1 reports status $devstatus: $(cat "$dev1_log")"
cmp -s "$h_work/board.fw" "$h_work/dev1.bin" || fail "the device on COM1 did not receive the file byte for byte"
echo "ok: COM1 chosen in the list; the update ended in Information; the device received all $((16 + 65536)) bytes"

choose 1
click 210 175
answer "ERROR:4"
h_device_done "$dev3_pid" 10 || fail "the simulator on COM3 did not finish"
[ "$(stat -c %s "$h_work/dev3.bin")" = 16 ] || fail "the device on COM3 should have received the header only"
echo "ok: the next entry is COM3; its wrong answer gave ERROR:4"

close_window
h_exit status "$app" 10 || fail "the program did not end after a close request"
[ "$status" = 0 ] || fail "exit status $status after a close request"
echo "ok: the close button ends the program with status 0"

# --- 4. close in the middle of a 1 MiB update ---------------------------
h_firmware "$h_work/big.fw" $((16 + 1048576))
# The simulator gives up one second after the body stops and says how far it got.
h_device dev1 "$device" --firmware "$h_work/big.fw" --timeout 1000 || fail "simulator"
link COM1 "$dev1"
rm -f "$WINEPREFIX/dosdevices/com3"
launch
choose 1
firmware "$h_work/big.fw"
click 210 175
h_wait_line "$dev1_log" 'receiving the body' 30 || fail "the update did not start: $(cat "$dev1_log")"
start=$(date +%s%N)
close_window
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
exit 0
