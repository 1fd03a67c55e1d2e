#!/usr/bin/env bash
# Times the remote-control server of zentaval-cli serve against a simulated
# instrument, on the loopback, and prints a table (benchmarks/scpi_roundtrip.py):
# the FETC? round trip with one client and four (median, 99th percentile) and
# the CAPT:DATA? transfer. Not run in CI.
#
# Usage: scripts/measure-scpi.sh [--build-dir DIR] [--queries N] [--transfers N]
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="$root/build"
extra=()
while [ $# -gt 0 ]; do
    case "$1" in
        --build-dir) build_dir="$2"; shift 2 ;;
        --queries|--transfers) extra+=("$1" "$2"); shift 2 ;;
        -h|--help) sed -n '2,7p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "measure-scpi.sh: unknown option $1" >&2; exit 2 ;;
    esac
done

if [ ! -x "$build_dir/bin/zentaval-cli" ] || [ ! -x "$build_dir/bin/zentaval-sim" ]; then
    cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release > /dev/null
    cmake --build "$build_dir" -j2 --target zentaval-cli zentaval-sim
fi
bin="$build_dir/bin"
work="$(mktemp -d)"
cleanup() {
    [ -n "${serve_pid:-}" ] && kill "$serve_pid" 2> /dev/null || true
    [ -n "${sim_pid:-}" ] && kill "$sim_pid" 2> /dev/null || true
    wait 2> /dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

"$bin/zentaval-sim" --baud 4000000 > "$work/paths" 2> /dev/null &
sim_pid=$!
for _ in $(seq 50); do [ -s "$work/paths" ] && break; sleep 0.1; done
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
(cd "$bin" && exec ./zentaval-cli serve --listen "127.0.0.1:$port" "$(head -n 1 "$work/paths")" 2> "$work/serve.err") &
serve_pid=$!
for _ in $(seq 100); do grep -q serving "$work/serve.err" 2> /dev/null && break; sleep 0.1; done
grep -q serving "$work/serve.err" || { cat "$work/serve.err" >&2; exit 3; }
python3 "$root/benchmarks/scpi_roundtrip.py" "$port" "${extra[@]}"
