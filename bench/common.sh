# Sourced by the benchmark scripts: a scratch folder, the processes started
# into "pids" (ended with the script), loopback port helpers and a private Xvfb.
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

free_port() { # a port nobody answers on
    local port
    while :; do
        port=$((20000 + RANDOM % 30000))
        (exec 3<>/dev/tcp/127.0.0.1/"$port") 2>/dev/null || { echo "$port"; return; }
    done
}
wait_port() { for _ in $(seq 200); do (exec 3<>/dev/tcp/127.0.0.1/"$1") 2>/dev/null && return 0; sleep 0.05; done; return 1; }

xvfb_count=0
start_xvfb() { # <width>x<height>: a private Xvfb ended with the script; its display (":N") in $xvfb_display
    xvfb_count=$((xvfb_count + 1))
    local number=$work/xvfb-$xvfb_count
    Xvfb -displayfd 3 -screen 0 "$1"x24 -nolisten tcp 3>"$number" >"$number.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do [ -s "$number" ] && break; sleep 0.05; done
    [ -s "$number" ] || { echo "Xvfb did not start" >&2; cat "$number.log" >&2; exit 1; }
    xvfb_display=:$(head -n1 "$number")
}

start_xvnc() { # <width>x<height>: a private Xvnc, as a session's display; its display in $xvnc_display
    Xvnc -displayfd 3 -geometry "$1" -depth 24 -rfbport -1 -SecurityTypes None -nolisten tcp \
        3>"$work/xvnc-display" >"$work/xvnc.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do [ -s "$work/xvnc-display" ] && break; sleep 0.05; done
    [ -s "$work/xvnc-display" ] || { echo "Xvnc did not start" >&2; cat "$work/xvnc.log" >&2; exit 1; }
    xvnc_display=:$(head -n1 "$work/xvnc-display")
}

start_display_server() { # <zentu2_display> <display>: it listens with password "secret"; $display_port, $display_pid
    echo "secret" >"$work/password"
    [ -s "$work/key.pem" ] || openssl genrsa -out "$work/key.pem" 2048 2>/dev/null
    display_port=$(free_port)
    "$1" --display "$2" --port "$display_port" --password-file "$work/password" --key "$work/key.pem" \
        >"$work/display.log" 2>&1 &
    display_pid=$!
    pids+=("$display_pid")
    wait_port "$display_port" || { echo "the display server did not start" >&2; cat "$work/display.log" >&2; exit 1; }
}
