#!/usr/bin/env bash
# Time from exec of Zentu to its connection list window being mapped, on a
# fresh Xvfb with a private home: with no connection files, and with 10,000
# of them (written as this program writes them, a tenth invalid, as
# bench_connections makes them). Prints the
# median of the given number of runs of each and the load average.
# Usage: bench/connections/startup.sh <build dir> [runs]
set -euo pipefail
build=$(cd "${1:?build directory}" && pwd)
runs=${2:-10}
source "$(dirname "$0")/../common.sh"

start_xvfb 1600x1200
export DISPLAY=$xvfb_display

make_files() { # <directory> <count>
    mkdir -p "$1"
    python3 - "$1" "$2" <<'PY'
import sys, uuid
directory, count = sys.argv[1], int(sys.argv[2])
invalid = ["not xml at all", "<SshConnection><Name>x</Name></SshConnection>", ""]
for i in range(count):
    with open(f"{directory}/{i}.rv32", "w") as f:
        if i % 10 == 9:
            f.write(invalid[i % 3])
            continue
        # As this program writes them: such files skip the schema check.
        port = "" if i % 3 else " <Port>2200</Port>\n"
        f.write(f"<SshConnection>\n <Uid>{{{uuid.uuid4()}}}</Uid>\n <Name>Connection {i}</Name>\n"
                f" <Host>host{i}.example.com</Host>\n{port} <User>user{i % 17}</User>\n</SshConnection>\n")
PY
}

measure() { # <label> <file count>
    local home=$work/home-$2
    mkdir -p "$home/runtime" "$home/config"
    chmod 700 "$home/runtime"
    make_files "$home/.Zentu/Connections" "$2"
    printf '%-28s ' "$1:"
    HOME=$home XDG_RUNTIME_DIR=$home/runtime XDG_CONFIG_HOME=$home/config \
        "$build/bin/startup_time" "$runs" Connections "$build/bin/Zentu"
}

measure "empty list" 0
measure "10,000 connection files" 10000
echo "load average $(cut -d' ' -f1-3 /proc/loadavg)"
