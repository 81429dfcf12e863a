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

Xvnc -displayfd 6 6>"$work/displayfd" -geometry 1024x768 -depth 24 -rfbport -1 \
    -SecurityTypes None -nolisten tcp >"$work/xvnc.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/displayfd" ] && break; sleep 0.05; done
display=":$(head -n1 "$work/displayfd")"
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

echo "secret" >"$work/password"
openssl genrsa -out "$work/key.pem" 2048 2>/dev/null
port=$(free_port)
"$bin/zentu2_display" --display "$display" --port "$port" --password-file "$work/password" \
    --key "$work/key.pem" >"$work/display.log" 2>&1 &
pids+=($!)
measure zentu2_display $! "$port" secret

port=$(free_port)
DISPLAY=$display freerdp-shadow-cli /bind-address:127.0.0.1 /port:"$port" /sec:rdp -auth \
    >"$work/shadow.log" 2>&1 &
pids+=($!)
measure freerdp-shadow $! "$port" secret
