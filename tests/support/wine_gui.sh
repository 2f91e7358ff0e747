#!/usr/bin/env bash
# Runs a Windows program that shows windows under Wine:
#
#   wine_gui.sh --template DIR -- WINDOWS-PROGRAM [ARG]...
#
# The program gets an X display of its own, an Xvfb for this run, even when
# $DISPLAY answers: windows of tests running side by side on one display take
# the focus from each other, and a test that checks activation or the focus
# then fails by chance. Its Wine session is its own too: a copy of
# the booted template prefix (created here once, under a lock, when missing),
# so the session's desktop belongs to this display and ends with the run.
# Exit status: the program's.
set -euo pipefail

template=""
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
  case $1 in
    --template) template=$2; shift 2 ;;
    *) echo "wine_gui: unknown option $1" >&2; exit 2 ;;
  esac
done
[ "${1:-}" = "--" ] && [ $# -ge 2 ] && [ -n "$template" ] || { echo "usage: see the head of $0" >&2; exit 2; }
shift

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

work=$(mktemp -d /tmp/fwu-gui.XXXXXX)
xvfb=""
finish() {
  local status=$?
  WINEPREFIX=$work/prefix wineserver -k >/dev/null 2>&1 || true
  [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
  exit "$status"
}
trap finish EXIT

unset DISPLAY
for n in $(seq 140 200); do
  [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
  Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
  export DISPLAY=":$n"
  for _ in $(seq 100); do
    timeout 5 xdotool getdisplaygeometry >/dev/null 2>&1 && break
    kill -0 "$xvfb" 2>/dev/null || break
    sleep 0.05
  done
  kill -0 "$xvfb" 2>/dev/null && break
  xvfb=""  # another run took the number first
done
[ -n "$xvfb" ] || { echo "wine_gui: no X display could be started" >&2; exit 1; }

mkdir -p "$template"
(
  flock 9
  if [ ! -f "$template/.ready" ]; then
    rm -rf "${template:?}"/*
    WINEPREFIX=$template wineboot -i >/dev/null 2>&1
    # Wine draws its own frames and handles focus without a window manager.
    WINEPREFIX=$template wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    WINEPREFIX=$template wineserver -w
    touch "$template/.ready"
  fi
) 9>"$template.lock"

export WINEPREFIX=$work/prefix
mkdir "$WINEPREFIX"
cp -a "$template/." "$WINEPREFIX/"
rm -f "$WINEPREFIX/.ready"

status=0
wine "$@" || status=$?
exit "$status"
