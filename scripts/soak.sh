#!/usr/bin/env bash
# Runs the program's window for a long time against a simulated instrument,
# with a scan every few minutes and the instrument unplugged and plugged in
# again now and then, and records the process's resident memory and processor
# time once a minute. Not part of the tests: an hour is too long for CI.
#
# Usage: scripts/soak.sh [MINUTES]      (default 60)
# Environment:
#   ZENTAVAL_BUILD_DIR  build folder (default build/), built here if needed
#   SOAK_SCAN_EVERY     minutes between two scans, 0 for none (default 5)
#   SOAK_REPLUG_EVERY   minutes between two restarts of the simulated
#                       instrument, 0 for none (default 10)
#   SOAK_OUTPUT         folder of the record (default BUILD_DIR/soak-DATE)
# The record is soak.csv (one line a minute: minute, resident_kib,
# cpu_percent of one core over the minute, heap_kib, scans and
# reconnections so far) beside soak.log; a summary is printed at the end.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
minutes="${1:-60}"
scan_every="${SOAK_SCAN_EVERY:-5}"
replug_every="${SOAK_REPLUG_EVERY:-10}"
for value in "$minutes" "$scan_every" "$replug_every"; do
    if ! [[ "$value" =~ ^[0-9]+$ ]]; then
        echo "Usage: $0 [MINUTES]  (whole numbers only: '$value')" >&2
        exit 2
    fi
done
if [ "$minutes" -eq 0 ]; then
    echo "Usage: $0 [MINUTES]  (at least one minute)" >&2
    exit 2
fi

build_dir="${ZENTAVAL_BUILD_DIR:-$root/build}"
"$root/scripts/install-dependencies.sh"
"$root/scripts/build.sh" "$build_dir"
bin="$build_dir/bin"

output="${SOAK_OUTPUT:-$build_dir/soak-$(date +%Y%m%d-%H%M%S)}"
mkdir -p "$output"
output="$(cd "$output" && pwd)"
csv="$output/soak.csv"
log="$output/soak.log"
# The instrument is reached through a link that a restarted simulator points
# at its new pseudo-terminal, as a /dev/serial/by-id link follows an adapter.
link="$output/ttyZentaval"

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
fi

simulator=""
driver=""
cleanup() {
    if [ -n "$driver" ] && kill -0 "$driver" 2>/dev/null; then
        kill "$driver" 2>/dev/null || true
    fi
    if [ -n "$simulator" ] && kill -0 "$simulator" 2>/dev/null; then
        kill "$simulator" 2>/dev/null || true
    fi
}
trap cleanup EXIT

start_simulator() {
    local paths="$output/simulator.paths"
    : >"$paths"
    "$bin/zentaval-sim" --link "$link" >"$paths" 2>>"$output/simulator.log" &
    simulator=$!
    for _ in $(seq 50); do
        [ -s "$paths" ] && return 0
        sleep 0.1
    done
    echo "The simulated instrument did not start (see $output/simulator.log)." >&2
    exit 1
}

stop_simulator() {
    kill "$simulator" 2>/dev/null || true
    wait "$simulator" 2>/dev/null || true
}

resident_kib() {
    awk '/^VmRSS:/ { print $2 }' "/proc/$1/status" 2>/dev/null || echo "?"
}

start_simulator
echo "Soak of $minutes min: scan every $scan_every min, instrument replugged every $replug_every min;"
echo "record in $output"

# The program reads its capture template from the working directory.
cd "$bin"
./zentaval-soakdriver --minutes "$minutes" --scan-every "$scan_every" --captures "$output" \
    --csv "$csv" "$link" > >(tee "$log") 2>&1 &
driver=$!

# Replugs fall 40 s into a minute, away from the scans that start on the minute
# and last about 20 s.
started=$SECONDS
next_replug=$(( replug_every * 60 + 40 ))
while kill -0 "$driver" 2>/dev/null; do
    sleep 1
    if [ "$replug_every" -gt 0 ] && [ $(( SECONDS - started )) -ge "$next_replug" ] \
        && [ $(( SECONDS - started )) -lt $(( minutes * 60 - 30 )) ]; then
        echo "[replug] simulator restarted" | tee -a "$log"
        stop_simulator
        start_simulator
        next_replug=$(( next_replug + replug_every * 60 ))
    fi
done
status=0
wait "$driver" || status=$?
driver=""
simulator_kib="$(resident_kib "$simulator")"
stop_simulator
simulator=""

echo
echo "Summary ($csv):"
awk -F, -v simulator_kib="$simulator_kib" '
    NR == 1 { next }
    {
        n++
        if (n == 1) { first = $2; first_heap = $4 }
        last = $2; last_heap = $4
        if ($2 > max) max = $2
        if ($4 > max_heap) max_heap = $4
        cpu_sum += $3
        if ($3 > max_cpu) max_cpu = $3
        saved = $5; failed = $6; reconnections = $7
    }
    END {
        if (n == 0) { print "  no minute recorded"; exit 1 }
        printf "  minutes recorded   %d\n", n
        printf "  resident memory    first %d KiB, last %d KiB, max %d KiB (last - first: %+d KiB)\n", first, last, max, last - first
        printf "  heap in use        first %d KiB, last %d KiB, max %d KiB\n", first_heap, last_heap, max_heap
        printf "  CPU, one core      mean %.2f %%, max %.2f %%\n", cpu_sum / n, max_cpu
        printf "  scans              %d saved, %d failed; reconnections %d\n", saved, failed, reconnections
        printf "  simulator at end   %s KiB resident\n", simulator_kib
    }' "$csv"
if [ "$status" -ne 0 ]; then
    echo "The run did not go as planned (exit status $status): see $log" >&2
fi
exit "$status"
