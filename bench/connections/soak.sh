#!/usr/bin/env bash
# Soak of one client process: 1,000 logins (open the connection, wait for the
# session list, close) and 200 displays connected and disconnected, against a
# real sshd and the stand-ins, on a private Xvfb. Prints the resident memory,
# descriptors, processes and windows after the warm-up and at the end; fails
# on 5 % memory growth or any other growth.
# Usage: bench/connections/soak.sh <build>/bin [login cycles] [display cycles]
set -euo pipefail
bin=$(cd "${1:?build bin directory}" && pwd)
logins=${2:-1000}
displays=${3:-200}
source "$(dirname "$0")/../common.sh"

Xvfb -displayfd 6 6>"$work/displayfd" -screen 0 1600x1200x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/displayfd" ] && break; sleep 0.05; done
export DISPLAY=":$(head -n1 "$work/displayfd")" ZENTU_BIN_DIR=$bin WLOG_LEVEL=OFF QT_LOGGING_RULES='*.info=false'
"$bin/connection_soak" "$logins" "$displays" 2>"$work/soak.log" || { tail -n 20 "$work/soak.log" >&2; exit 1; }
