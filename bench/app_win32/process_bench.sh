#!/usr/bin/env bash
# Whole-process figures of the Windows program under Wine, each next to the
# minimal Win32 window program measured in the same run:
#   - start-up, CreateProcess to the ready window (app_win32_startup_probe);
#   - processor use of the whole Wine process tree (the program, the Wine
#     server and Wine's helper processes) while the program sits idle
#     waiting for events, over 10 s.
# Runs inside the Wine test bed (wine_bed.sh --host), so the session and its
# processes are this run's alone.
#   process_bench.sh FWUPDATER-WIN.EXE MIN-WINDOW.EXE STARTUP-PROBE.EXE [ROUNDS]
set -uo pipefail
program=$(realpath "$1") yardstick=$(realpath "$2") probe=$(realpath "$3") rounds=${4:-7}
. "$(dirname "$0")/../../tests/app/harness.sh"
h_init
h_display || { echo "no X display" >&2; exit 1; }
windows_path() { local p=$1; echo "Z:${p//\//\\}"; }

wine "$probe" "$rounds" "$(windows_path "$program")" "Update firmware 1.0.2" \
  "$(windows_path "$yardstick")" "Minimal window" || exit 1

# Processor seconds (user + system) of every Wine process of the session.
wine_seconds() {
  local ticks=0 pid exe fields
  for pid in /proc/[0-9]*; do
    exe=$(readlink "$pid/exe" 2>/dev/null) || continue
    case $exe in */wine*) ;; *) continue ;; esac
    fields=$(sed 's/^.*) //' "$pid/stat" 2>/dev/null) || continue
    set -- $fields
    ticks=$((ticks + ${12} + ${13}))
  done
  echo "$ticks"
}

idle() {
  local path=$1 title=$2 pid win before after
  wine "$path" >/dev/null 2>&1 &
  pid=$!
  win=$(h_window "$title" 60) || true
  [ -n "$win" ] || { echo "$title: no window" >&2; exit 1; }
  # Start-up work (the port scan, the first paint) is over well within this.
  sleep 2
  before=$(wine_seconds)
  sleep 10
  after=$(wine_seconds)
  awk -v t=$((after - before)) -v hz="$(getconf CLK_TCK)" 'BEGIN { printf "%.2f", t / hz / 10 * 100 }'
  xdotool key --window "$win" alt+F4 2>/dev/null
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
}
program_idle=$(idle "$program" "Update firmware 1.0.2")
minimal_idle=$(idle "$yardstick" "Minimal window")
echo "processor use while idle, the whole Wine process tree, over 10 s:"
echo "  program:        $program_idle % of a core (goal < 1 %)"
echo "  minimal window: $minimal_idle % of a core"
