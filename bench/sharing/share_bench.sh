#!/usr/bin/env bash
# A shared session on zentu2_display (1024x768 Xvnc), every participant the
# client's RdpInstance painting its window (share_client, one process each,
# on a local Xvfb):
# 1. An xterm running "yes | cat -n" changes the whole screen. Over the same
#    window of time: CPU per frame of the server and of each client, and the
#    frames each client received, for the owner alone and for the owner with
#    three viewers. CPU is process CPU time (the machine may be shared).
# 2. keycolour fills the screen and changes colour on each key: the delay
#    from a key typed by the participant in control (the owner, then a viewer
#    given control) to the change painted by another viewer, median and
#    worst of the keys; on a quiet screen, then with the xterm still
#    scrolling in a strip below.
# Usage: share_bench.sh <build dir> [seconds] [rounds] [keys]
set -euo pipefail
build=$(cd "${1:?build directory}" && pwd)
seconds=${2:-20}
rounds=${3:-3}
keys=${4:-50}
bin=$build/bin
source "$(dirname "$0")/../common.sh"
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
now_ms() { date +%s%3N; }
sleep_until_ms() { local left=$(($1 - $(now_ms))); [ "$left" -le 0 ] || sleep "$(echo "$left / 1000" | bc -l)"; }

# The session: Xvnc and the display server.
start_xvnc 1024x768
session=$xvnc_display
start_display_server "$bin/zentu2_display" "$session"
port=$display_port
server=$display_pid

# The clients' display, and settings of their own.
start_xvfb 1600x1200
export DISPLAY=$xvfb_display
mkdir -p "$work/home/config"
export HOME=$work/home XDG_CONFIG_HOME=$work/home/config WLOG_LEVEL=OFF

client() { # <log name> <options...>: starts a share_client, its pid in $!
    local name=$1
    shift
    "$bin/share_client" --port "$port" "$@" >"$work/$name.out" 2>"$work/$name.err" &
    pids+=($!)
}
wait_file() { for _ in $(seq 600); do [ -s "$1" ] && return 0; sleep 0.05; done; echo "no $1" >&2; return 1; }
field() { sed -n "s/.*$2 \([0-9.]*\).*/\1/p" "$work/$1.out"; }

load() { awk '{print $1, $2, $3}' /proc/loadavg; }

# Part 1 -------------------------------------------------------------------
DISPLAY=$session xterm -geometry 200x80+0+0 -e sh -c 'yes | cat -n' 2>/dev/null &
xterm=$!
pids+=("$xterm")
sleep 2

measure() { # <label> <viewer count>
    local label=$1 viewers=$2 start ticks_before ticks_after names total=0 owner_frames
    rm -f "$work/sharing"
    # Room for logging on (and sharing) under load before the counting starts.
    start=$(($(now_ms) + 8000 + viewers * 3000))
    local common=(--measure-at "$start" --seconds "$seconds")
    local client_pids=()
    if [ "$viewers" -gt 0 ]; then
        client owner --password-file "$work/password" --user owner --share "$work/sharing" "${common[@]}"
        client_pids+=($!)
        wait_file "$work/sharing"
        for v in $(seq "$viewers"); do
            client "viewer$v" --password-file "$work/sharing" --user "viewer$v" "${common[@]}"
            client_pids+=($!)
        done
    else
        client owner --password-file "$work/password" --user owner "${common[@]}"
        client_pids+=($!)
    fi
    sleep_until_ms "$start"
    ticks_before=$(cpu_ticks "$server")
    local load_at_start
    load_at_start=$(load)
    sleep "$seconds"
    ticks_after=$(cpu_ticks "$server")
    for pid in "${client_pids[@]}"; do wait "$pid" || true; done
    local server_ms=$(((ticks_after - ticks_before) * 1000 / $(getconf CLK_TCK)))
    names=(owner)
    for v in $(seq "$viewers"); do names+=("viewer$v"); done
    echo "$label (load $load_at_start):"
    for name in "${names[@]}"; do
        local frames cpu
        frames=$(field "$name" frames)
        cpu=$(field "$name" cpu_ms)
        if [ -z "$frames" ]; then
            echo "  $name: no result"; sed 's/^/    /' "$work/$name.err"
            continue
        fi
        total=$((total + frames))
        printf '  %-8s frames %5d (%5.1f/s)  repaints %5d  CPU %6d ms  %6.2f ms/frame\n' "$name" "$frames" \
            "$(echo "$frames / $seconds" | bc -l)" "$(field "$name" repaints)" "$cpu" \
            "$(echo "if ($frames > 0) $cpu / $frames else 0" | bc -l)"
    done
    owner_frames=$(field owner frames)
    printf '  %-8s CPU %6d ms (%4.1f%% of a core)  %6.2f ms per frame sent (%d)  %6.2f ms per owner frame\n' \
        server "$server_ms" "$(echo "$server_ms / 10 / $seconds" | bc -l)" \
        "$(echo "if ($total > 0) $server_ms / $total else 0" | bc -l)" "$total" \
        "$(echo "if (0${owner_frames} > 0) $server_ms / $owner_frames else 0" | bc -l)"
}

echo "== CPU per frame: 1024x768, xterm running 'yes | cat -n', $seconds s counted, $rounds rounds"
for round in $(seq "$rounds"); do
    echo "-- round $round"
    measure "owner alone" 0
    measure "owner and 3 viewers" 3
done

# Part 2 -------------------------------------------------------------------
kill "$xterm"
wait "$xterm" 2>/dev/null || true
DISPLAY=$session "$bin/keycolour" &
pids+=($!)
sleep 1
# Points away from the strip the busy variant leaves to the xterm.
points="200,150;512,300;800,420"

latency() { # <label>, the controller: owner or viewer
    local label=$1 controller=$2
    rm -f "$work/sharing" "$work/seen"
    mkfifo "$work/seen"
    local owner_args=(--password-file "$work/password" --user owner --share "$work/sharing")
    local typing
    if [ "$controller" = owner ]; then
        "$bin/share_client" --port "$port" "${owner_args[@]}" --type-keys "$keys" \
            0<>"$work/seen" >"$work/typist.out" 2>"$work/typist.err" &
        typing=$!
        pids+=("$typing")
        wait_file "$work/sharing"
        client viewer1 --password-file "$work/sharing" --user viewer1
        client viewer2 --password-file "$work/sharing" --user viewer2
    else
        client owner "${owner_args[@]}" --give-control typist
        wait_file "$work/sharing"
        "$bin/share_client" --port "$port" --password-file "$work/sharing" --user typist --type-keys "$keys" \
            0<>"$work/seen" >"$work/typist.out" 2>"$work/typist.err" &
        typing=$!
        pids+=("$typing")
        client viewer2 --password-file "$work/sharing" --user viewer2
    fi
    local watcher_pid
    "$bin/share_client" --port "$port" --password-file "$work/sharing" --user watcher --watch "$points" \
        >"$work/seen" 2>"$work/watcher.err" &
    watcher_pid=$!
    pids+=("$watcher_pid")
    local load_at_start
    load_at_start=$(load)
    wait "$typing" || true
    echo "$label (load $load_at_start): $(grep '^keys' "$work/typist.out" || echo "no result: $(tail -n3 "$work/typist.err")")"
    # The others of this run end before the next one logs on.
    for pid in "${pids[@]}"; do
        if [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = share_client ]; then
            kill "$pid" 2>/dev/null || true
            wait "$pid" 2>/dev/null || true
        fi
    done
}

echo "== Key to change seen by a viewer: $keys keys, owner and three viewers"
for round in $(seq "$rounds"); do
    echo "-- round $round"
    latency "quiet screen, the owner types" owner
    latency "quiet screen, a viewer in control types" viewer
done
DISPLAY=$session xterm -geometry 170x12+0+580 -e sh -c 'yes | cat -n' 2>/dev/null &
pids+=($!)
sleep 2
for round in $(seq "$rounds"); do
    echo "-- round $round, xterm scrolling below"
    latency "busy screen, the owner types" owner
    latency "busy screen, a viewer in control types" viewer
done
