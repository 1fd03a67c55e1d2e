#!/usr/bin/env bash
# Times zentaval-cli against a simulated instrument at 921,600 baud, and the
# window's scan beside it in the same run, and prints a table:
#   - capture: the whole run of `zentaval-cli capture` (start, probe, "SCAN",
#     the stream, the end), the instrument's own delay and the bitmap's time on
#     the line, and what is left: the tool's own time, including how long it
#     took to end after the last byte;
#   - the window's scan (benchmarks/zentaval-measure, the real window built
#     in-process, offscreen): from the Scan click to the scan's end;
#   - measure: how far each row lies from its place in the rhythm (first reply
#     half a second after the first "read", then one per interval), the spacing
#     of the rows' times, and the CPU the process used.
#
# Usage: scripts/measure-cli.sh [--runs R] [--seconds S] [--scan-delay MS] [--build-dir DIR]
#   --runs        captures timed; the table shows medians and the largest (5)
#   --seconds     how long measure runs for its figures (60)
#   --scan-delay  the simulated instrument's delay before its answer to "SCAN" (1000)
#   --build-dir   Release build to use or make (build-release in the source tree)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="$root/build-release"
runs=5
seconds=60
scan_delay=1000
baud=921600

while [ $# -gt 0 ]; do
    case "$1" in
        --runs) runs="$2"; shift 2 ;;
        --seconds) seconds="$2"; shift 2 ;;
        --scan-delay) scan_delay="$2"; shift 2 ;;
        --build-dir) build_dir="$2"; shift 2 ;;
        -h|--help) sed -n '2,19p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "measure-cli.sh: unknown option $1" >&2; exit 2 ;;
    esac
done
for number in "$runs" "$seconds" "$scan_delay"; do
    if ! [[ "$number" =~ ^[0-9]+$ ]]; then
        echo "measure-cli.sh: $number is not a whole number" >&2
        exit 2
    fi
done

"$root/scripts/install-dependencies.sh"
echo "Building (Release) in $build_dir" >&2
cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZENTAVAL_BENCHMARKS=ON \
    -DZENTAVAL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build_dir" -j 2 --target zentaval-cli zentaval-sim zentaval-measure >/dev/null
bin="$build_dir/bin"

work="$(mktemp -d)"
simulator_pid=""
cleanup() {
    [ -n "$simulator_pid" ] && kill "$simulator_pid" 2>/dev/null
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

"$bin/zentaval-sim" --seed 7 --baud "$baud" --scan-delay "$scan_delay" >"$work/paths" &
simulator_pid=$!
for _ in $(seq 100); do
    [ -s "$work/paths" ] && break
    sleep 0.05
done
device="$(head -n 1 "$work/paths")"
if [ -z "$device" ]; then
    echo "measure-cli.sh: the simulated instrument did not start" >&2
    exit 1
fi

now_ns() { date +%s%N; }
median() { sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) print "n/a"; else if (NR % 2) print v[(NR + 1) / 2]; else printf "%.3f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
largest() { sort -g | tail -n 1; }
# The bitmap's bytes on the line: 10 bits a byte, the simulator's echo "SCAN\r\n" first.
line_seconds="$(awk -v b="$baud" 'BEGIN { printf "%.3f", (182650 + 6) * 10 / b }')"

# 1. zentaval-cli capture, the whole run.
echo "Timing $runs captures with zentaval-cli" >&2
: >"$work/capture-times"
for run in $(seq "$runs"); do
    start="$(now_ns)"
    if ! "$bin/zentaval-cli" capture --output "$work/cli-$run.bmp" "$device" 2>"$work/cli-$run.err"; then
        echo "measure-cli.sh: capture $run failed:" >&2
        cat "$work/cli-$run.err" >&2
        exit 1
    fi
    end="$(now_ns)"
    # The tool's own count from "SCAN" to its end.
    since_scan="$(sed -n 's/.* bytes in \([0-9.]*\) s into .*/\1/p' "$work/cli-$run.err")"
    echo "$(( (end - start) / 1000000 )) $since_scan" >>"$work/capture-times"
done
capture_total="$(awk '{ print $1 / 1000 }' "$work/capture-times" | median)"
capture_total_max="$(awk '{ print $1 / 1000 }' "$work/capture-times" | largest)"
since_scan="$(awk '{ print $2 }' "$work/capture-times" | median)"
# What is left of the whole once the instrument's delay and the line are taken off.
left="$(awk -v d="$scan_delay" -v l="$line_seconds" '{ print $1 / 1000 - d / 1000 - l }' "$work/capture-times" | median)"
left_max="$(awk -v d="$scan_delay" -v l="$line_seconds" '{ print $1 / 1000 - d / 1000 - l }' "$work/capture-times" | largest)"
after_last="$(awk -v d="$scan_delay" -v l="$line_seconds" '{ print $2 - d / 1000 - l }' "$work/capture-times" | median)"

# 2. The window's scan against the same instrument.
echo "Timing the window's scan (zentaval-measure, offscreen)" >&2
window_scan="n/a"
if QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work" timeout 90 "$bin/zentaval-measure" --poll-seconds 2 \
    --capture "$work/window.bmp" "$device" >"$work/window.txt" 2>"$work/window.err"; then
    window_scan="$(sed -n 's/^scan_seconds=//p' "$work/window.txt")"
else
    echo "measure-cli.sh: zentaval-measure did not time a scan; the window's figure is left out" >&2
fi

# 3. zentaval-cli measure for a while: rows against their rhythm, and CPU.
echo "Measuring for $seconds s with zentaval-cli" >&2
TIMEFORMAT='%R %U %S'
{ time "$bin/zentaval-cli" measure --quiet --duration "$seconds" --format csv "$device" \
    >"$work/rows.csv" 2>"$work/measure.err"; } 2>"$work/measure-time"
read -r real user system <"$work/measure-time"
cpu_percent="$(awk -v r="$real" -v u="$user" -v s="$system" 'BEGIN { printf "%.2f", 100 * (u + s) / r }')"
# Each row's elapsed_s against 0.5 s + k intervals, and the gaps between the rows' times.
awk -F, '!/^#/ && $1 != "time" {
        k = NR_ROWS++; off = ($2 - (0.5 + k * 0.5)) * 1000; if (off < 0) off = -off
        if (off > worst) worst = off; sum += off
        split(substr($1, 12, 12), t, ":"); now = t[1] * 3600 + t[2] * 60 + t[3]
        if (k > 0) { gap = (now - last) * 1000 - 500; if (gap < 0) gap = -gap; if (gap > worst_gap) worst_gap = gap }
        last = now
    }
    END { printf "%d %.1f %.1f %.1f\n", NR_ROWS, sum / NR_ROWS, worst, worst_gap }' "$work/rows.csv" >"$work/rhythm"
read -r rows mean_offset worst_offset worst_gap <"$work/rhythm"

cat <<TABLE
| Measure (zentaval-sim at $baud baud, instrument delay $scan_delay ms) | Result | Aim |
|---|---|---|
| zentaval-cli capture, whole run, start to exit (median / largest of $runs) | $capture_total / $capture_total_max s | delay + ${line_seconds} s on the line + at most 0.6 s |
| ... of which beyond the delay and the line (median / largest) | $left / $left_max s | at most 0.6 s |
| ... from "SCAN" to the end, less the delay and the line: the end after the last byte (median) | $after_last s | within 0.6 s |
| The window's scan, Scan click to the end of the scan | $window_scan s | |
| zentaval-cli measure, $rows rows in $seconds s: mean / largest distance of a row from its place | $mean_offset / $worst_offset ms | within 50 ms |
| ... largest difference between two rows' spacing and the interval | $worst_gap ms | |
| ... CPU, user and system, over the run | $cpu_percent % of one core | under 0.5 % |
TABLE
