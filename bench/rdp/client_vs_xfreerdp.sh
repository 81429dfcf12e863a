#!/usr/bin/env bash
# Streams the same changing 1024x768 desktop (an xterm running "yes | cat -n"
# on FreeRDP's shadow server) to this client and to xfreerdp, one after the
# other on the same local X display, and prints for each: CPU time, peak
# memory, frames shown (changes of the local display, counted alike for
# both), CPU per frame and the time from start to the first frame. This
# client also reports its longest GUI event-loop stall.
# Usage: bench/rdp/client_vs_xfreerdp.sh <build dir> [seconds]
set -euo pipefail
build=$(cd "${1:?build directory}" && pwd)
seconds=${2:-20}
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

start_xvfb() { # <size> <file receiving the display number>
    Xvfb -displayfd 3 -screen 0 "$1"x24 -nolisten tcp 3>"$2" 2>/dev/null &
    pids+=($!)
    for _ in $(seq 100); do [ -s "$2" ] && return 0; sleep 0.1; done
    echo "Xvfb did not start" >&2
    exit 1
}

wait_port() {
    for _ in $(seq 100); do
        if (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; then return 0; fi
        sleep 0.1
    done
    echo "nothing listens on port $1" >&2
    exit 1
}

start_xvfb 1024x768 "$work/server-display"
server_display=:$(cat "$work/server-display")
DISPLAY=$server_display xterm -geometry 170x60+0+0 -e sh -c 'yes | cat -n' &
pids+=($!)
port=$(free_port)
DISPLAY=$server_display freerdp-shadow-cli /bind-address:127.0.0.1 /port:"$port" /sec:rdp -auth >"$work/shadow.log" 2>&1 &
pids+=($!)
wait_port "$port"

start_xvfb 1600x1200 "$work/client-display"
export DISPLAY=:$(cat "$work/client-display")

report() { # <name> <time output> <damage output>
    read -r user sys peak < <(tail -n 1 "$2")
    local cpu frames first
    cpu=$(echo "$user + $sys" | bc -l)
    frames=$(sed -n 's/.*, \([0-9]*\) changes.*/\1/p' "$3")
    if [ -z "$frames" ]; then
        echo "$1: no result"; cat "$3" "${2%.time}.out"
        return
    fi
    first=$(sed -n 's/first full frame after \(-\?[0-9]*\) ms.*/\1/p' "$3")
    printf '%-10s CPU %6.2f s  peak %4d MB  frames %5d (%5.1f/s)  CPU/frame %6.2f ms  first frame %5d ms\n' \
        "$1" "$cpu" $((peak / 1024)) "$frames" "$(echo "$frames / $seconds" | bc -l)" \
        "$(echo "if ($frames > 0) $cpu * 1000 / $frames else 0" | bc -l)" "$first"
}

# This client: it ends by itself after connecting plus $seconds.
"$build/bin/damage_count" "$seconds" >"$work/ours.damage" &
damage=$!
/usr/bin/time -f '%U %S %M' -o "$work/ours.time" "$build/bin/rdp_stream" "$port" "$seconds" >"$work/ours.out" 2>"$work/ours.err" || true
wait "$damage"

"$build/bin/damage_count" "$seconds" >"$work/xfreerdp.damage" &
damage=$!
/usr/bin/time -f '%U %S %M' -o "$work/xfreerdp.time" \
    timeout --signal=INT $((seconds + 2)) xfreerdp /v:127.0.0.1:"$port" /u:bench /p:bench /sec:rdp /gdi:sw /rfx /bpp:32 \
    /size:1024x768 /cert:ignore >"$work/xfreerdp.out" 2>&1 || true
wait "$damage"

echo "1024x768 shadow server, xterm running 'yes | cat -n', $seconds s per client"
report "zentu" "$work/ours.time" "$work/ours.damage"
report "xfreerdp" "$work/xfreerdp.time" "$work/xfreerdp.damage"
echo "zentu's own view:"
sed 's/^/  /' "$work/ours.out"
