#!/usr/bin/env bash
# The built program from the outside: under X, with simulated /dev/ttyUSB0 and
# /dev/ttyUSB3 in a private mount namespace.
#   blackbox.sh FWUPDATER DEVICE-SIMULATOR XCLOSE
# 1. exactly the names /dev/ttyUSB0..99 are probed, in order, and only the two
#    simulated ports open; a port held by another program, and one the user
#    may not open, are each reported in one line on standard error;
# 2. an update of the selected first port ends in "Information", and the
#    device received the file byte for byte;
# 3. the second list entry is /dev/ttyUSB3: its device answers "ok", giving ERROR:4;
# 4. closing the window in the middle of a 1 MiB update ends the program at
#    once with exit status 0.
# Exit 77 (skipped) only where no mount namespace can be made.
set -uo pipefail
program=$(realpath "$1") device=$(realpath "$2") xclose=$(realpath "$3")
. "$(dirname "$0")/harness.sh"

fail() { echo "FAIL: $*" >&2; [ -n "$h_work" ] && grep -v "^QStandardPaths" "$h_work"/program.err | head -n 40 >&2 2>/dev/null; exit 1; }

H_NAMESPACE=$(h_namespace) || { echo "SKIP: no mount namespace can be made here (unshare -m / -Urm refused)"; exit 77; }
command -v strace >/dev/null || fail "strace is missing (scripts/setup installs it)"
h_init
h_display || fail "no X display"
unset QT_QPA_PLATFORM
# Sanitizer builds: xkbcommon (third party, reached only on a real X server)
# hands strndup() unterminated buffers of exact length, which is valid but
# trips ASan's strict string checks.
[ -n "${ASAN_OPTIONS:-}" ] && export ASAN_OPTIONS="$ASAN_OPTIONS:strict_string_checks=0"
title="Update firmware 1.0.1"

# --- 1. the port scan ---------------------------------------------------
h_device dev0 "$device" -q --body-length 0
h_device dev3 "$device" -q --body-length 0
trace="$h_work/scan.trace"
# (LeakSanitizer cannot stop the world under a tracer.)
ASAN_OPTIONS="${ASAN_OPTIONS:-}:detect_leaks=0" \
  h_launch app ttyUSB0="$dev0" ttyUSB3="$dev3" -- strace -qq -e trace=openat -o "$trace" "$program"
win=$(h_window "$title" 30) || true
[ -n "$win" ] || fail "the window did not appear"
"$xclose" "$win"
h_exit status "$app" 10 || fail "the program did not end after a close request"
[ "$status" = 0 ] || fail "exit status $status after a close request"
h_stop_device "$dev0_pid"; h_stop_device "$dev3_pid"
probed=$(grep -oE 'openat\([^"]*"/dev/tty[^"]*"' "$trace" | sed -E 's/.*"(.*)"/\1/')
expected=$(for i in $(seq 0 99); do echo "/dev/ttyUSB$i"; done)
[ "$probed" = "$expected" ] || fail "probed names differ: $(echo "$probed" | head -5 | tr '\n' ' ')..."
opened=$(grep -E 'openat\([^"]*"/dev/ttyUSB[0-9]+"' "$trace" | grep -vE '= -1' | sed -E 's/.*"(\/dev\/ttyUSB[0-9]+)".*/\1/' | tr '\n' ' ')
[ "$opened" = "/dev/ttyUSB0 /dev/ttyUSB3 " ] || fail "opened ports: '$opened', expected /dev/ttyUSB0 /dev/ttyUSB3"
echo "ok: probed /dev/ttyUSB0..99 in order, opened /dev/ttyUSB0 and /dev/ttyUSB3"

# A port that exists but is held by another program: one line on standard
# error names it and says why; missing ports say nothing.
h_device dev0 "$device" -q --body-length 0
h_device dev3 "$device" -q --body-length 0
flock -x -n "$dev3" sh -c ': >"$0"; sleep 30' "$h_work/held" &
holder=$!
h_pids+=("$holder")
h_wait_file "$h_work/held" 10 || fail "the lock on /dev/ttyUSB3 was not taken"
: >"$h_work/program.err"
h_launch app ttyUSB0="$dev0" ttyUSB3="$dev3" -- "$program"
win=$(h_window "$title" 30) || true
[ -n "$win" ] || fail "the window did not appear"
"$xclose" "$win"
h_exit status "$app" 10 || fail "the program did not end after a close request"
kill "$holder" 2>/dev/null
h_stop_device "$dev0_pid"; h_stop_device "$dev3_pid"
lines=$(grep '^fwupdater: ' "$h_work/program.err")
[ "$(echo "$lines" | wc -l)" = 1 ] && echo "$lines" | grep -q '^fwupdater: cannot open /dev/ttyUSB3: it is in use by another program$' ||
  fail "expected one diagnostic line for the busy /dev/ttyUSB3, got: $lines"
echo "ok: the busy port is reported on standard error: $lines"

# A user without access to the port (not in the port's group) is told about
# the dialout group. Needs root to become another user.
if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null; then
  h_device dev0 "$device" -q --body-length 0
  chmod 0660 "$dev0"
  : >"$h_work/program.err"
  h_launch app ttyUSB0="$dev0" -- setpriv --reuid=65534 --regid=65534 --clear-groups env HOME="$h_work" "$program"
  win=$(h_window "$title" 30) || true
  if [ -z "$win" ] && ! kill -0 "$app" 2>/dev/null; then
    # A display with access control admits no other user: nothing to check.
    wait "$app" 2>/dev/null
    h_stop_device "$dev0_pid"
    echo "note: another user cannot reach this display; the dialout hint was not checked"
  else
    [ -n "$win" ] || fail "the window did not appear for an unprivileged user"
    "$xclose" "$win"
    h_exit status "$app" 10 || fail "the program did not end after a close request"
    h_stop_device "$dev0_pid"
    lines=$(grep '^fwupdater: ' "$h_work/program.err")
    [ "$lines" = "fwupdater: cannot open /dev/ttyUSB0: Permission denied (your user must be in the 'dialout' group: sudo usermod -aG dialout \$USER, then log in again)" ] ||
      fail "expected the dialout hint for /dev/ttyUSB0, got: $lines"
    echo "ok: a user without access to the port is told about the dialout group"
  fi
fi

# --- 2 and 3. an update, then an error on the second port ---------------
cd "$h_work"
h_firmware "$h_work/board.fw" $((16 + 65536))
h_device dev0 "$device" -q --firmware "$h_work/board.fw" --output "$h_work/dev0.bin"
h_device dev3 "$device" -q --body-length 65536 --answer1 ok --output "$h_work/dev3.bin"
h_launch app ttyUSB0="$dev0" ttyUSB3="$dev3" -- "$program"
win=$(h_window "$title" 30) || true
[ -n "$win" ] || fail "the window did not appear"
# The file-name field: replace "trx.fw" with the firmware's path.
h_click "$win" 190 80
xdotool key --clearmodifiers ctrl+a
xdotool type --delay 2 "$h_work/board.fw"
h_click "$win" 210 175
box=$(h_window "Information" 60) || true
[ -n "$box" ] || fail "no Information box after the update ($(xdotool search --onlyvisible --name 'ERROR' getwindowname 2>/dev/null))"
"$xclose" "$box"
h_gone "Information" 10 || fail "the Information box did not close"
h_device_done "$dev0_pid" 10 devstatus || fail "the simulator on /dev/ttyUSB0 did not finish"
[ "$devstatus" = 0 ] || fail "the simulator on /dev/ttyUSB0 reports status $devstatus: $(cat "$dev0_log")"
cmp -s "$h_work/board.fw" "$h_work/dev0.bin" || fail "the device on /dev/ttyUSB0 did not receive the file byte for byte"
echo "ok: update on /dev/ttyUSB0 ended in Information; the device received all $((16 + 65536)) bytes"

# Second entry of the list: focus the list from the field, one step down.
h_click "$win" 190 80
xdotool key --clearmodifiers shift+Tab Down
h_click "$win" 210 175
box=$(h_window "ERROR:4" 30) || true
[ -n "$box" ] || fail "no ERROR:4 box from the device on /dev/ttyUSB3"
"$xclose" "$box"
h_gone "ERROR:4" 10 || fail "the ERROR:4 box did not close"
h_device_done "$dev3_pid" 10 || fail "the simulator on /dev/ttyUSB3 did not finish"
[ "$(stat -c %s "$h_work/dev3.bin")" = 16 ] || fail "the device on /dev/ttyUSB3 should have received the header only"
"$xclose" "$win"
h_exit status "$app" 10 || fail "the program did not end after a close request"
[ "$status" = 0 ] || fail "exit status $status"
echo "ok: the second entry is /dev/ttyUSB3; its wrong answer gave ERROR:4"

# --- 4. close in the middle of a 1 MiB update ---------------------------
h_firmware "$h_work/big.fw" $((16 + 1048576))
# The simulator gives up one second after the body stops and says how far it got.
h_device dev0 "$device" --firmware "$h_work/big.fw" --timeout 1000
h_launch app ttyUSB0="$dev0" -- "$program"
win=$(h_window "$title" 30) || true
[ -n "$win" ] || fail "the window did not appear"
h_click "$win" 190 80
xdotool key --clearmodifiers ctrl+a
xdotool type --delay 2 "$h_work/big.fw"
h_click "$win" 210 175
h_wait_line "$dev0_log" 'receiving the body' 30 || fail "the update did not start: $(cat "$dev0_log")"
start=$(date +%s%N)
"$xclose" "$win"
h_exit status "$app" 5 || fail "the program did not end within 5 s of a close request during an update"
elapsed=$(( ($(date +%s%N) - start) / 1000000 ))
[ "$status" = 0 ] || fail "exit status $status after a close during an update"
h_device_done "$dev0_pid" 10 devstatus || fail "the simulator did not notice the end of the program"
got=$(grep -oE 'the body stopped after [0-9]+ of 1048576 bytes' "$dev0_log" | grep -oE '[0-9]+' | head -n1)
[ -n "$got" ] && [ "$got" -gt 0 ] && [ "$got" -lt 1048576 ] ||
  fail "the update was not in progress at the close: $(cat "$dev0_log")"
echo "ok: closed during an update ($got of 1048576 body bytes sent): exit 0 after ${elapsed} ms"
exit 0
