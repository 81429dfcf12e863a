#!/usr/bin/env bash
# This client against xfreerdp (/sec:rdp /gdi:sw /rfx /bpp:32) on the same
# local X display, in two workloads:
#  - "shadow": FreeRDP's shadow server on a 1024x768 Xvfb with an xterm
#    running "yes | cat -n" (capped by that server at about 30 frames/s);
#  - "1080p60": zentu2_display on a 1920x1080 Xvfb, its frame-rate limit set
#    to 60, and screen_churn changing every pixel 60 times a second, which
#    shows the clients' own limit.
# Each round runs our client and then xfreerdp (interleaved, so that the
# load of the shared machine falls alike on both); each prints: the time
# from start to the first frame, the CPU spent until the counted window, and
# in a steady-state window after the first frame: frames shown (changes of
# the local display, counted alike for both), CPU time (user + system, read
# from /proc alike for both) and CPU per frame, the peak resident and the
# anonymous memory. The medians over the rounds close each workload, with
# the load average of the machine.
# Usage: bench/rdp/client_vs_xfreerdp.sh <build dir> [seconds] [rounds] [workloads]
set -euo pipefail
build=$(cd "${1:?build directory}" && pwd)
seconds=${2:-20}
rounds=${3:-5}
workloads=${4:-"shadow 1080p60"}
warmup=2
source "$(dirname "$0")/../common.sh"

# Fields of a damage_count line: first, start-up CPU, frames, CPU, peak, anonymous.
fields() {
    sed -n 's/first full frame after \([0-9]*\) ms, start-up CPU \([0-9]*\) ms, \([0-9]*\) changes in [0-9]* s, CPU \([0-9]*\) ms in them, peak memory \([0-9]*\) MB, anonymous memory \([0-9.]*\) MB/\1 \2 \3 \4 \5 \6/p' "$1"
}

report() { # <name> <damage output>
    local first startup frames cpu peak anon
    read -r first startup frames cpu peak anon < <(fields "$2") || true
    if [ -z "${frames:-}" ]; then
        echo "$1: no result"; cat "$2"
        return
    fi
    printf '  %-9s first frame %5d ms  start-up CPU %4d ms  frames %5d (%5.1f/s)  CPU %6d ms  CPU/frame %5.2f ms  peak %3d MB  anon %5.1f MB\n' \
        "$1" "$first" "$startup" "$frames" "$(echo "$frames / $seconds" | bc -l)" "$cpu" \
        "$(echo "if ($frames > 0) $cpu / $frames else 0" | bc -l)" "$peak" "$anon"
    echo "$frames $(echo "if ($frames > 0) $cpu / $frames else 0" | bc -l) $peak $anon" >>"$work/$1.results"
}

median() { # <column> <file>
    cut -d' ' -f"$1" "$2" | sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

run_pair() { # <port> <desktop size> <password> [command run before each client]
    local port=$1 size=$2 password=$3 prepare=${4:-true} client
    $prepare
    "$build/bin/rdp_stream" "$port" $((seconds + warmup + 5)) "$size" "$password" \
        >"$work/ours.out" 2>"$work/ours.err" &
    client=$!
    pids+=("$client")
    "$build/bin/damage_count" "$client" "$warmup" "$seconds" >"$work/ours.damage" || true
    kill -TERM "$client" 2>/dev/null || true
    wait "$client" || true
    report zentu "$work/ours.damage"

    $prepare
    xfreerdp /v:127.0.0.1:"$port" /u:bench /p:"$password" /sec:rdp /gdi:sw /rfx /bpp:32 \
        /size:"$size" /cert:ignore >"$work/xfreerdp.out" 2>&1 &
    client=$!
    pids+=("$client")
    "$build/bin/damage_count" "$client" "$warmup" "$seconds" >"$work/xfreerdp.damage" || true
    kill -TERM "$client" 2>/dev/null || true
    wait "$client" || true
    report xfreerdp "$work/xfreerdp.damage"
}

summary() { # <workload>
    local name
    echo "$1: medians of $rounds rounds, load average $(cut -d' ' -f1-3 /proc/loadavg)"
    for name in zentu xfreerdp; do
        [ -s "$work/$name.results" ] || continue
        printf '  %-9s frames %6s  CPU/frame %5.2f ms  peak %3s MB  anon %5.1f MB\n' "$name" \
            "$(median 1 "$work/$name.results")" "$(median 2 "$work/$name.results")" \
            "$(median 3 "$work/$name.results")" "$(median 4 "$work/$name.results")"
    done
    if [ -s "$work/zentu.results" ] && [ -s "$work/xfreerdp.results" ]; then
        printf '  CPU per frame zentu/xfreerdp: %.2f\n' \
            "$(echo "$(median 2 "$work/zentu.results") / $(median 2 "$work/xfreerdp.results")" | bc -l)"
    fi
    rm -f "$work/zentu.results" "$work/xfreerdp.results"
}

shadow() {
    local display port round
    start_xvfb 1024x768
    display=$xvfb_display
    DISPLAY=$display xterm -geometry 170x60+0+0 -e sh -c 'yes | cat -n' 2>/dev/null &
    pids+=($!)
    port=$(free_port)
    DISPLAY=$display freerdp-shadow-cli /bind-address:127.0.0.1 /port:"$port" /sec:rdp -auth \
        >"$work/shadow.log" 2>&1 &
    pids+=($!)
    wait_port "$port"
    echo "shadow: 1024x768 shadow server, xterm running 'yes | cat -n', $seconds s per client after $warmup s of warm-up"
    for round in $(seq "$rounds"); do
        echo " round $round"
        run_pair "$port" 1024x768 bench
    done
    summary shadow
}

# The display server's frame-rate limit is one setting for all its clients;
# it is set anew before each client, as the server may fall back to its own.
set_limit_60() {
    WLOG_LEVEL=OFF "$build/bin/zentu_rdp_framecount" "$hd_port" secret 1 60 >/dev/null 2>>"$work/framecount.log" || true
}

1080p60() {
    local display round
    start_xvfb 1920x1080
    display=$xvfb_display
    DISPLAY=$display "$build/bin/screen_churn" 60 &
    pids+=($!)
    start_display_server "$build/bin/zentu2_display" "$display"
    hd_port=$display_port
    echo "1080p60: 1920x1080 zentu2_display limited to 60 frames/s, the whole screen new every frame, $seconds s per client after $warmup s of warm-up"
    for round in $(seq "$rounds"); do
        echo " round $round"
        run_pair "$hd_port" 1920x1080 secret set_limit_60
    done
    summary 1080p60
}

start_xvfb 1920x1200
export DISPLAY=$xvfb_display
for workload in $workloads; do
    "$workload"
done
