#!/usr/bin/env bash
# The window's event loop while its HTTP endpoint is watched as a lab watches
# it: the page open in headless chromium (a reading every second, the trend
# every 5 s, the eye after the scan) and Debian's Prometheus scraping
# /metrics every second (tests/cli/lab_clients.py load), through 30 s of
# polling and a scan (benchmarks/zentaval-measure, the real window
# in-process, offscreen). Then the scrape of eight served instruments
# (zentaval-benchmarks). Prints a table; not run in CI.
#
# Usage: scripts/measure-http.sh [--build-dir DIR] [--poll-seconds S]
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="$root/build-release"
poll_seconds=30
while [ $# -gt 0 ]; do
    case "$1" in
        --build-dir) build_dir="$2"; shift 2 ;;
        --poll-seconds) poll_seconds="$2"; shift 2 ;;
        -h|--help) sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "measure-http.sh: unknown option $1" >&2; exit 2 ;;
    esac
done

if [ ! -x "$build_dir/bin/zentaval-sim" ] || [ ! -x "$build_dir/bin/zentaval-measure" ] \
    || [ ! -x "$build_dir/bin/zentaval-benchmarks" ]; then
    cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZENTAVAL_BENCHMARKS=ON > /dev/null
    cmake --build "$build_dir" -j2 --target zentaval-sim zentaval-measure zentaval-benchmarks
fi
bin="$build_dir/bin"
work="$(mktemp -d)"
cleanup() {
    [ -n "${load_pid:-}" ] && kill "$load_pid" 2> /dev/null || true
    [ -n "${sim_pid:-}" ] && kill "$sim_pid" 2> /dev/null || true
    wait 2> /dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

"$bin/zentaval-sim" > "$work/paths" 2> /dev/null &
sim_pid=$!
for _ in $(seq 50); do [ -s "$work/paths" ] && break; sleep 0.1; done
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
# The watchers start once the window serves, and watch until the scan is over.
(sleep 3; exec /usr/bin/python3 "$root/tests/cli/lab_clients.py" load --target "127.0.0.1:$port" \
    --seconds $((poll_seconds + 22))) > "$work/load.txt" &
load_pid=$!
(cd "$bin" && QT_QPA_PLATFORM=offscreen exec ./zentaval-measure --only-named --http "$port" \
    --poll-seconds "$poll_seconds" --capture "$work/capture.bmp" "$(head -n 1 "$work/paths")") > "$work/window.txt"
wait "$load_pid" || true
load_pid=""
value() { grep "^$1=" "$2" | cut -d= -f2; }
QT_QPA_PLATFORM=offscreen "$bin/zentaval-benchmarks" --benchmark_filter=EightInstruments \
    --benchmark_repetitions=5 --benchmark_report_aggregates_only=true > "$work/bench.txt" 2>&1 || true
median() { grep "^$1/.*_median\|^$1_median" "$work/bench.txt" | awk '{ print $2 " " $3 }'; }
echo "| The window served over HTTP, the page open and Prometheus scraping every second ($(value load_scrapes "$work/load.txt") scrapes) | Result | Aim |"
echo "|---|---|---|"
echo "| Event-loop stalls while polling: longest gap / less waiting for a CPU / most CPU in one gap | $(value poll_longest_stall_ms "$work/window.txt") / $(value poll_longest_own_stall_ms "$work/window.txt") / $(value poll_busiest_gap_cpu_ms "$work/window.txt") ms | under 16 ms |"
echo "| Event-loop stalls during a scan: longest gap / less waiting for a CPU / most CPU in one gap | $(value scan_longest_stall_ms "$work/window.txt") / $(value scan_longest_own_stall_ms "$work/window.txt") / $(value scan_busiest_gap_cpu_ms "$work/window.txt") ms | under 16 ms |"
echo "| Scan from request to end | $(value scan_seconds "$work/window.txt") s | |"
echo "| Metrics text of 8 instruments (median of 5) | $(median BM_MetricsOfEightInstruments) | |"
echo "| GET /metrics of 8 instruments over the loopback, whole (median of 5) | $(median BM_ScrapeOfEightInstruments) | under 2 ms |"
