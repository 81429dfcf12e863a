#!/usr/bin/env bash
# Frames per second received and server CPU: zentu2_display against FreeRDP's
# shadow server, on the same 1024x768 Xvnc display with the same workload
# (an xterm running "yes | cat -n", which changes the whole screen).
# Usage: display_vs_shadow.sh <build>/bin [seconds]
set -euo pipefail
bin=$(cd "${1:?build bin directory}" && pwd)
seconds=${2:-20}
source "$(dirname "$0")/../common.sh"
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

start_xvnc 1024x768
display=$xvnc_display
DISPLAY=$display xterm -geometry 200x80+0+0 -e 'yes | cat -n' &
pids+=($!)

measure() { # name pid port password
    local before after fps start end
    wait_port "$3"
    before=$(cpu_ticks "$2")
    start=$(date +%s.%N)
    fps=$(WLOG_LEVEL=OFF "$bin/zentu_rdp_framecount" "$3" "$4" "$seconds" 2>>"$work/framecount.log")
    end=$(date +%s.%N)
    after=$(cpu_ticks "$2")
    printf '%-16s %6s fps  %5.1f%% CPU of one core\n' "$1" "$fps" \
        "$(echo "($after - $before) * 100 / $(getconf CLK_TCK) / ($end - $start)" | bc -l)"
}

start_display_server "$bin/zentu2_display" "$display"
measure zentu2_display "$display_pid" "$display_port" secret

port=$(free_port)
DISPLAY=$display freerdp-shadow-cli /bind-address:127.0.0.1 /port:"$port" /sec:rdp -auth \
    >"$work/shadow.log" 2>&1 &
pids+=($!)
measure freerdp-shadow $! "$port" secret
