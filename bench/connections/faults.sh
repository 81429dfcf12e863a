#!/usr/bin/env bash
# Kills ssh, the command interface or a session's display server at random
# moments of a login, a display or a clipboard transfer, in rounds of one
# client process on a private Xvfb; each round checks that the user was
# told, that the GUI thread kept serving its timers, that the saved
# connection is unchanged and that the connection opened again lists what
# the server keeps. Prints one line per round; fails when any round failed.
# Usage: bench/connections/faults.sh <build>/bin [rounds] [seed]
set -euo pipefail
bin=$(cd "${1:?build bin directory}" && pwd)
rounds=${2:-36}
seed=${3:-$RANDOM}
source "$(dirname "$0")/../common.sh"

start_xvfb 1600x1200
export DISPLAY=$xvfb_display ZENTU_BIN_DIR=$bin WLOG_LEVEL=OFF QT_LOGGING_RULES='*.info=false'
"$bin/connection_soak" faults "$rounds" "$seed" 2>"$work/faults.log" || { tail -n 20 "$work/faults.log" >&2; exit 1; }
