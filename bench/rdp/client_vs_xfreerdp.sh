#!/usr/bin/env bash
# Streams the same changing 1024x768 desktop (an xterm running "yes | cat -n"
# on FreeRDP's shadow server) to this client and to xfreerdp, one after the
# other on the same local X display, and prints for each: the time from
# start to the first frame, the CPU spent until the counted window, and in
# a steady-state window after the first frame: frames shown (changes of the
# local display, counted alike for both), CPU (read from /proc alike for
# both), CPU per frame; and the peak memory. This client also reports its
# longest GUI event-loop stall.
# Usage: bench/rdp/client_vs_xfreerdp.sh <build dir> [seconds]
set -euo pipefail
build=$(cd "${1:?build directory}" && pwd)
seconds=${2:-20}
warmup=2
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

report() { # <name> <damage output>
    local first startup frames cpu peak
    read -r first startup frames cpu peak < <(sed -n \
        's/first full frame after \([0-9]*\) ms, start-up CPU \([0-9]*\) ms, \([0-9]*\) changes in [0-9]* s, CPU \([0-9]*\) ms in them, peak memory \([0-9]*\) MB/\1 \2 \3 \4 \5/p' "$2")
    if [ -z "$frames" ]; then
        echo "$1: no result"; cat "$2"
        return
    fi
    printf '%-10s first frame %5d ms  start-up CPU %5d ms  frames %5d (%5.1f/s)  CPU %6d ms  CPU/frame %5.2f ms  peak %4d MB\n' \
        "$1" "$first" "$startup" "$frames" "$(echo "$frames / $seconds" | bc -l)" "$cpu" \
        "$(echo "if ($frames > 0) $cpu / $frames else 0" | bc -l)" "$peak"
}

# Each client starts at the same moment as the counter; the window counted
# begins $warmup s after its first full frame and lasts $seconds s.
"$build/bin/rdp_stream" "$port" $((seconds + warmup + 5)) >"$work/ours.out" 2>"$work/ours.err" &
client=$!
pids+=("$client")
"$build/bin/damage_count" "$client" "$warmup" "$seconds" >"$work/ours.damage" || true
wait "$client" || true

xfreerdp /v:127.0.0.1:"$port" /u:bench /p:bench /sec:rdp /gdi:sw /rfx /bpp:32 \
    /size:1024x768 /cert:ignore >"$work/xfreerdp.out" 2>&1 &
client=$!
pids+=("$client")
"$build/bin/damage_count" "$client" "$warmup" "$seconds" >"$work/xfreerdp.damage" || true
kill -TERM "$client" 2>/dev/null || true
wait "$client" || true

echo "1024x768 shadow server, xterm running 'yes | cat -n', $seconds s per client after $warmup s of warm-up"
report "zentu" "$work/ours.damage"
report "xfreerdp" "$work/xfreerdp.damage"
echo "zentu's own view:"
sed 's/^/  /' "$work/ours.out"
