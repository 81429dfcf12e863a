#!/usr/bin/env bash
# Frames per second a client receives from zentu2_display at the frame-rate
# limits 5, 15, 30 and 60, on a screen that keeps changing (an xterm running
# "yes | cat -n" on a 1024x768 Xvfb). Each run sets the limit on "qzcfg" first.
# Usage: fps_limit.sh <build>/bin [seconds]
set -euo pipefail
bin=$(cd "${1:?build bin directory}" && pwd)
seconds=${2:-10}
source "$(dirname "$0")/../common.sh"

start_xvfb 1024x768
display=$xvfb_display
DISPLAY=$display xterm -geometry 200x80+0+0 -e 'yes | cat -n' &
pids+=($!)

start_display_server "$bin/zentu2_display" "$display"
port=$display_port

printf '%-6s %s\n' limit 'received fps'
for limit in 5 15 30 60; do
    fps=$(WLOG_LEVEL=OFF "$bin/zentu_rdp_framecount" "$port" secret "$seconds" "$limit" 2>>"$work/framecount.log")
    printf '%-6s %s\n' "$limit" "$fps"
done
