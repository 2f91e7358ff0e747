#!/usr/bin/env bash
# Runs COMMAND with an X display: $DISPLAY when one answers there, else an
# Xvfb of its own for the length of the command. Exit status: the command's.
#   with_display.sh COMMAND [ARG]...
set -uo pipefail
. "$(dirname "$0")/../app/harness.sh"
h_init
h_display || { echo "with_display: no X display could be started" >&2; exit 1; }
status=0
"$@" || status=$?
exit "$status"
