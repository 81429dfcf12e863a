# Sourced by the benchmark scripts: a scratch folder, the processes started
# into "pids" (ended with the script), and loopback port helpers.
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
