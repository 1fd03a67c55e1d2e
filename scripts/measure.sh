#!/usr/bin/env bash
# Measures what the program costs, against a simulated instrument on a virtual
# X server, and prints a table:
#   - start to window shown, start to instrument listed, start to connected
#     (benchmarks/zentaval-measure: the real window built in-process, which
#     also picks the instrument, scans and notes the event loop's stalls: the
#     longest gap between ticks of a 1 ms timer, the same less the time the
#     thread waited for a CPU held by other processes, and the most CPU time
#     the thread used between two ticks);
#   - CPU while polling and resident memory after some minutes of the real
#     zentaval program, read from /proc; the program is driven with xdotool as
#     a user would: pick the instrument, press Scan, type a file name.
#
# Usage: scripts/measure.sh [--minutes N] [--cpu-seconds S] [--runs R] [--build-dir DIR]
#   --minutes      how long the real program polls before its memory is read (10)
#   --cpu-seconds  the window over which polling CPU is measured (60)
#   --runs         runs of the in-process driver; the table shows medians (3)
#   --build-dir    Release build to use or make (build-release in the source tree)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="$root/build-release"
minutes=10
cpu_seconds=60
runs=3

while [ $# -gt 0 ]; do
    case "$1" in
        --minutes) minutes="$2"; shift 2 ;;
        --cpu-seconds) cpu_seconds="$2"; shift 2 ;;
        --runs) runs="$2"; shift 2 ;;
        --build-dir) build_dir="$2"; shift 2 ;;
        -h|--help) sed -n '2,19p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "measure.sh: unknown option $1" >&2; exit 2 ;;
    esac
done
for number in "$minutes" "$cpu_seconds" "$runs"; do
    if ! [[ "$number" =~ ^[0-9]+([.][0-9]+)?$ ]]; then
        echo "measure.sh: $number is not a number" >&2
        exit 2
    fi
done

# What the measurement needs besides the build dependencies.
"$root/scripts/install-dependencies.sh"
if ! command -v xdotool >/dev/null; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends xdotool
fi

echo "Building (Release) in $build_dir" >&2
cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZENTAVAL_BENCHMARKS=ON \
    -DZENTAVAL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build_dir" -j 2 --target zentaval zentaval-sim zentaval-measure >/dev/null
bin="$build_dir/bin"

work="$(mktemp -d)"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# A virtual X server of our own; the program runs on the xcb platform as on a
# desktop.
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
exec 3>&-
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    sleep 0.05
done
export DISPLAY=":$(cat "$work/display")"
unset WAYLAND_DISPLAY QT_QPA_PLATFORM
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"

# Starts a simulated instrument; sets device and simulator_pid.
start_simulator() {
    local paths="$work/simulator-${#pids[@]}"
    "$bin/zentaval-sim" --seed 7 >"$paths" &
    simulator_pid=$!
    pids+=("$simulator_pid")
    for _ in $(seq 100); do
        [ -s "$paths" ] && break
        sleep 0.05
    done
    device="$(head -n 1 "$paths")"
    if [ -z "$device" ]; then
        echo "measure.sh: the simulated instrument did not start" >&2
        exit 1
    fi
}

now_ns() { date +%s%N; }
median() { sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) print "n/a"; else if (NR % 2) print v[(NR + 1) / 2]; else printf "%.1f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
largest() { sort -g | tail -n 1; }
value() { grep "^$1=" "$2" | cut -d= -f2; }

# 1. The window built in-process, several runs.
echo "Timing start, discovery and a scan in-process ($runs runs)" >&2
for run in $(seq "$runs"); do
    start_simulator
    start="$(now_ns)"
    if ! "$bin/zentaval-measure" --start-ns "$start" --poll-seconds 5 \
        --capture "$work/driver-$run.bmp" "$device" >"$work/driver-$run.txt" 2>"$work/driver-$run.err"; then
        echo "measure.sh: run $run of zentaval-measure failed:" >&2
        cat "$work/driver-$run.txt" "$work/driver-$run.err" >&2
        exit 1
    fi
    kill "$simulator_pid" 2>/dev/null || true
done
collect() { for run in $(seq "$runs"); do value "$1" "$work/driver-$run.txt"; done; }
ports="$(value ports_probed "$work/driver-1.txt")"
window_shown="$(collect window_shown_ms | median)"
listed="$(collect instrument_listed_ms | median)"
connected="$(collect connected_ms | median)"
first_measurement="$(collect first_measurement_ms | median)"
poll_stall="$(collect poll_longest_stall_ms | median)"
poll_own="$(collect poll_longest_own_stall_ms | largest)"
poll_busiest="$(collect poll_busiest_gap_cpu_ms | largest)"
scan_stall="$(collect scan_longest_stall_ms | median)"
scan_own="$(collect scan_longest_own_stall_ms | largest)"
scan_busiest="$(collect scan_busiest_gap_cpu_ms | largest)"
scan_seconds="$(collect scan_seconds | median)"
shown_is_file="$(collect capture_shown_is_file | awk '{ n += $1 } END { printf "%d of %d", n, NR }')"
read -r portselbox_x portselbox_y < <("$bin/zentaval-measure" --click-points | awk '$1 == "PortSelBox" { print $2, $3 }')
read -r scanbtn_x scanbtn_y < <("$bin/zentaval-measure" --click-points | awk '$1 == "ScanBtn" { print $2, $3 }')

# 2. The real program.
clock_ticks="$(getconf CLK_TCK)"
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
rss_kib() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"; }
hwm_kib() { awk '/^VmHWM:/ { print $2 }' "/proc/$1/status"; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f MiB", k / 1024 }'; }
cpu_percent() { awk -v t="$1" -v s="$2" -v hz="$clock_ticks" 'BEGIN { printf "%.2f", 100 * t / hz / s }'; }

echo "Running the real program for $minutes min" >&2
start_simulator
mkdir -p "$work/home" "$work/cwd"
start="$(now_ns)"
# From a folder without a template, so the program finds the one beside it.
(cd "$work/cwd" && exec env HOME="$work/home" "$bin/zentaval" "$device") >"$work/zentaval.log" 2>&1 &
program=$!
pids+=("$program")
window=""
while [ -z "$window" ]; do
    window="$(xdotool search --onlyvisible --pid "$program" 2>/dev/null | head -n 1 || true)"
    if ! kill -0 "$program" 2>/dev/null; then
        echo "measure.sh: zentaval ended at start:" >&2
        cat "$work/zentaval.log" >&2
        exit 1
    fi
    [ -n "$window" ] || sleep 0.01
done
window_mapped="$(( ($(now_ns) - start) / 1000000 ))"

# Pick the instrument once discovery has listed it, as a user would: the list
# is disabled until then.
listed_wait="$(awk -v l="$listed" 'BEGIN { printf "%d", l + 500 }')"
while [ "$(( ($(now_ns) - start) / 1000000 ))" -lt "$listed_wait" ]; do
    sleep 0.05
done
connected_title=""
for attempt in 1 2 3 4 5; do
    xdotool mousemove --window "$window" "$portselbox_x" "$portselbox_y" click 1
    sleep 0.3
    xdotool key Down Return
    sleep 0.8
    title="$(xdotool getwindowname "$window")"
    if [ "$title" != "Zentaval" ]; then
        connected_title="$title"
        break
    fi
    xdotool key Escape
    sleep 1
done
if [ -z "$connected_title" ]; then
    echo "measure.sh: the real program did not connect to $device" >&2
    exit 1
fi
polling_since="$(date +%s)"
sleep 2
rss_connected="$(rss_kib "$program")"

ticks_before="$(cpu_ticks "$program")"
sleep "$cpu_seconds"
ticks_after="$(cpu_ticks "$program")"
cpu_polling="$(cpu_percent "$((ticks_after - ticks_before))" "$cpu_seconds")"

# A scan into a file of its own.
capture="$work/capture.bmp"
xdotool mousemove --window "$window" "$scanbtn_x" "$scanbtn_y" click 1
for _ in $(seq 100); do
    xdotool search --onlyvisible --name "Open Log File" >/dev/null 2>&1 && break
    sleep 0.05
done
sleep 0.3
xdotool key ctrl+a
xdotool type --delay 5 "$capture"
xdotool key Return
scan_started="$(date +%s)"
# The file is rewritten at every piece; once it has changed and then stayed
# as it is for longer than a pass, the scan is over.
last_change=""
while :; do
    now="$(date +%s)"
    if [ -f "$capture" ] && ! cmp -s "$capture" "$bin/blankcapture.bmp"; then
        stamp="$(stat -c %.9Y "$capture" 2>/dev/null || true)"
        if [ "$stamp" != "$last_change" ]; then
            last_change="$stamp"
            stable_since="$now"
        elif [ "$((now - stable_since))" -ge 10 ]; then
            break
        fi
    fi
    if [ "$((now - scan_started))" -gt 120 ]; then
        echo "measure.sh: the scan of the real program did not complete" >&2
        exit 1
    fi
    sleep 0.5
done
capture_ok="no"
if [ "$(head -c 2 "$capture")" = "BM" ]; then
    capture_ok="yes, $(stat -c %s "$capture") bytes"
fi
rss_after_scan="$(rss_kib "$program")"

# Polling goes on until the minutes are over.
ticks_before="$(cpu_ticks "$program")"
rest_started="$(date +%s)"
end="$(awk -v s="$polling_since" -v m="$minutes" 'BEGIN { printf "%d", s + m * 60 }')"
while [ "$(date +%s)" -lt "$end" ]; do
    if ! kill -0 "$program" 2>/dev/null; then
        echo "measure.sh: zentaval ended while polling" >&2
        exit 1
    fi
    sleep 5
done
rest_seconds="$(( $(date +%s) - rest_started ))"
cpu_rest="n/a: the minutes were over by the scan's end"
if [ "$rest_seconds" -gt 0 ]; then
    cpu_rest="$(cpu_percent "$(( $(cpu_ticks "$program") - ticks_before ))" "$rest_seconds") % of one core"
fi
rss_end="$(rss_kib "$program")"
hwm_end="$(hwm_kib "$program")"

expected_listed="$((600 + 1000 * ports))"
cpu_model="$(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)"
commit="$(git -C "$root" describe --always --dirty 2>/dev/null || echo "an unknown commit")"
cat <<EOF

Measured $(date -u +%Y-%m-%d) (commit $commit) on $(nproc) cores ($cpu_model), Debian $(cat /etc/debian_version),
Qt $(dpkg-query -W -f='${Version}' libqt6core6 2>/dev/null || echo '?'), on Xvfb; $runs in-process runs (medians), real program for $minutes min.

| Measure | Result | Aim |
|---|---|---|
| Start to window shown (first paint) | $window_shown ms | |
| Start to window mapped, real program | $window_mapped ms | |
| Start to instrument listed ($ports ports probed) | $listed ms | 600 ms + 1 s per free port = $expected_listed ms |
| Start to connected / first measurement shown | $connected / $first_measurement ms | |
| CPU while polling, real program, ${cpu_seconds} s | $cpu_polling % of one core | under 1 % |
| CPU while polling after the scan, real program, ${rest_seconds} s | $cpu_rest | under 1 % |
| Resident memory, real program: connected / after a scan / after $minutes min | $(mib "$rss_connected") / $(mib "$rss_after_scan") / $(mib "$rss_end") (peak $(mib "$hwm_end")) | |
| Event-loop stalls while polling: longest gap / longest less waiting for a CPU / most CPU in one gap | $poll_stall / $poll_own / $poll_busiest ms | under 16 ms |
| Event-loop stalls during a scan: longest gap / longest less waiting for a CPU / most CPU in one gap | $scan_stall / $scan_own / $scan_busiest ms | under 16 ms |
| Scan from request to end (in-process) | $scan_seconds s | |
| Scans whose last picture shown is the capture file (in-process) | $shown_is_file | all |
| Capture file of the real program | $capture_ok | |
EOF
