#!/usr/bin/env bash
# Times the remote-control server of zentaval-cli serve against a simulated
# instrument, on the loopback, and prints a table (benchmarks/scpi_roundtrip.py):
# the FETC? round trip with one client and four (median, 99th percentile) and
# the CAPT:DATA? transfer. Then the window (benchmarks/zentaval-measure, the
# real window in-process, offscreen) serves while four clients ask FETC? as
# fast as they are answered, through 20 s of polling and a scan: its event
# loop's longest stalls, as measure.sh reports them. Not run in CI.
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

if [ ! -x "$build_dir/bin/zentaval-cli" ] || [ ! -x "$build_dir/bin/zentaval-sim" ] \
    || [ ! -x "$build_dir/bin/zentaval-measure" ]; then
    cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZENTAVAL_BENCHMARKS=ON > /dev/null
    cmake --build "$build_dir" -j2 --target zentaval-cli zentaval-sim zentaval-measure
fi
bin="$build_dir/bin"
work="$(mktemp -d)"
cleanup() {
    [ -n "${serve_pid:-}" ] && kill "$serve_pid" 2> /dev/null || true
    [ -n "${window_sim_pid:-}" ] && kill "$window_sim_pid" 2> /dev/null || true
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

# The window serving four clients that ask as fast as they are answered.
kill "$serve_pid" 2> /dev/null || true
"$bin/zentaval-sim" > "$work/window-paths" 2> /dev/null &
window_sim_pid=$!
for _ in $(seq 50); do [ -s "$work/window-paths" ] && break; sleep 0.1; done
window_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
python3 "$root/benchmarks/scpi_roundtrip.py" "$window_port" --load-seconds 45 > "$work/load.txt" &
load_pid=$!
(cd "$bin" && QT_QPA_PLATFORM=offscreen exec ./zentaval-measure --only-named --listen "$window_port" \
    --poll-seconds 20 --capture "$work/window-capture.bmp" "$(head -n 1 "$work/window-paths")") > "$work/window.txt"
wait "$load_pid" || true
value() { grep "^$1=" "$2" | cut -d= -f2; }
echo
echo "| The window serving four clients that ask FETC? without pause ($(value load_queries "$work/load.txt") answers) | Result | Aim |"
echo "|---|---|---|"
echo "| Event-loop stalls while polling: longest gap / less waiting for a CPU / most CPU in one gap | $(value poll_longest_stall_ms "$work/window.txt") / $(value poll_longest_own_stall_ms "$work/window.txt") / $(value poll_busiest_gap_cpu_ms "$work/window.txt") ms | under 16 ms |"
echo "| Event-loop stalls during a scan: longest gap / less waiting for a CPU / most CPU in one gap | $(value scan_longest_stall_ms "$work/window.txt") / $(value scan_longest_own_stall_ms "$work/window.txt") / $(value scan_busiest_gap_cpu_ms "$work/window.txt") ms | under 16 ms |"
echo "| Scan from request to end | $(value scan_seconds "$work/window.txt") s | |"
