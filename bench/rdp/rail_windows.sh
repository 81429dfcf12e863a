#!/usr/bin/env bash
# Rootless windows between a rootless session and the client under openbox
# on a 1920x1200 Xvfb (railwindows_main.cpp): map-to-paint time over N
# windows, CPU and wake-ups of the client and of zentu2_display at rest with
# the N windows open, and the delay of a local drag. Repeated runs, with the
# machine's load before each, since CPU figures depend on what else runs.
# Usage: rail_windows.sh <build>/bin [runs] [windows] [rest seconds] [drags]
set -euo pipefail
bin=$(cd "${1:?build bin directory}" && pwd)
runs=${2:-3}
windows=${3:-20}
seconds=${4:-30}
drags=${5:-5}
source "$(dirname "$0")/../common.sh"

start_xvfb 1920x1200
export DISPLAY=$xvfb_display
openbox --sm-disable >"$work/openbox.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break; sleep 0.1; done

for run in $(seq "$runs"); do
    echo "run $run, load average $(cut -d' ' -f1-3 /proc/loadavg)"
    ZENTU_BIN_DIR=$bin WLOG_LEVEL=OFF "$bin/railwindows" "$windows" "$seconds" "$drags" 2>>"$work/railwindows.log" \
        || { tail -n 20 "$work/railwindows.log" >&2; exit 1; }
done
