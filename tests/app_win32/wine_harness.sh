# Shell helpers for driving fwupdater-win.exe under Wine from the outside,
# shared by the black-box test (blackbox.sh) and the demonstration
# (scripts/demo-windows). Source tests/app/harness.sh first (h_init, h_window,
# h_gone, h_pids); run inside the Wine test bed (wine_bed.sh --host), which
# exports WINEPREFIX. Every wait is bounded.

w_title="Update firmware 1.0.2"

# w_link COMn LINE: the device on LINE becomes COMn for programs started from now on.
w_links=()
w_link() {
  ln -sfn "$2" "$WINEPREFIX/dosdevices/${1,,}"
  w_links+=("${1,,}=$2")
}

# w_unlink: takes back the links w_link made. A link that no longer leads
# where it was set stays, so that the bed still sees a port Wine made itself.
w_unlink() {
  local link entry
  for link in "${w_links[@]}"; do
    entry="$WINEPREFIX/dosdevices/${link%%=*}"
    [ "$(readlink "$entry" 2>/dev/null)" = "${link#*=}" ] && rm -f "$entry"
  done
  w_links=()
}

# w_launch PROGRAM: starts the program; w_app gets its process, w_win its
# window. Wine draws the frame itself (no window manager): the client area is
# centred horizontally in the frame and sits at its bottom.
w_launch() {
  wine "$1" >>"$h_work/program.out" 2>>"$h_work/program.err" &
  w_app=$!
  h_pids+=("$w_app")
  w_win=$(h_window "$w_title" 60) || true
  [ -n "$w_win" ] || return 1
  local geometry width height
  geometry=$(xdotool getwindowgeometry --shell "$w_win")
  width=$(sed -n 's/^WIDTH=//p' <<<"$geometry")
  height=$(sed -n 's/^HEIGHT=//p' <<<"$geometry")
  w_frame_x=$(( (width - 400) / 2 ))
  w_frame_y=$(( height - 200 - w_frame_x ))
  w_width=$width
}

# w_click X Y: a left click at client coordinates of the main window.
w_click() { xdotool mousemove --window "$w_win" $((w_frame_x + $1)) $((w_frame_y + $2)) click --delay 0 1; }

# w_choose N: opens the port list with a click, moves N entries down with
# the keyboard and takes the entry with Return.
w_choose() {
  w_click 45 80
  local i
  for i in $(seq "$1"); do xdotool key --clearmodifiers Down; done
  xdotool key --clearmodifiers Return
}

# w_firmware PATH: replaces the file-name field's text with PATH (a path of
# this machine, typed as Wine's Z: drive sees it).
w_firmware() {
  w_click 190 80
  xdotool key --clearmodifiers ctrl+a
  xdotool type --delay 2 "Z:${1//\//\\}"
}

w_update() { w_click 210 175; }

# w_result_box [SECONDS]: waits for a result box; prints its window id.
w_result_box() {
  local i box
  for i in $(seq $(( ${1:-30} * 10 ))); do
    box=$(xdotool search --onlyvisible --name '^(Information|ERROR:[0-9])$' 2>/dev/null | head -n1)
    [ -n "$box" ] && { echo "$box"; return 0; }
    sleep 0.1
  done
  return 1
}

# w_answer BOX: presses the box's one button with the keyboard and waits until it is gone.
w_answer() {
  local title
  title=$(xdotool getwindowname "$1")
  xdotool windowfocus --sync "$1" 2>/dev/null || true
  xdotool key --clearmodifiers Return
  h_gone "$title" 10
}

# w_close: the close button at the right end of Wine's title bar.
w_close() {
  xdotool mousemove --window "$w_win" $((w_width - w_frame_x - 10)) $((w_frame_y / 2 + 1)) click --delay 0 1
}
