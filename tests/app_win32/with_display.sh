#!/usr/bin/env bash
# Runs COMMAND on an X display of its own (an Xvfb started for the length of
# the command), so that its windows neither take the focus from another
# test's nor wait behind them, and a developer's own display is left alone.
# Exit status: the command's.
#   with_display.sh COMMAND [ARG]...
set -uo pipefail
. "$(dirname "$0")/../app/harness.sh"
h_init
unset DISPLAY
h_display || { echo "with_display: no X display could be started" >&2; exit 1; }
status=0
"$@" || status=$?
exit "$status"
