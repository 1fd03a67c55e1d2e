#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test without a display.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${ZENTAVAL_BUILD_DIR:-$root/build}"

"$root/scripts/install-dependencies.sh"
# With the benchmarks, for the measurement driver's check below.
"$root/scripts/build.sh" "$build_dir" -DZENTAVAL_BENCHMARKS=ON

export QT_QPA_PLATFORM=offscreen
results="$(mktemp)"
simulator_pid=""
cleanup() {
    if [ -n "$simulator_pid" ]; then
        kill "$simulator_pid" 2>/dev/null || true
    fi
    rm -f "$results" "$results.devices"
}
trap cleanup EXIT
ctest --test-dir "$build_dir" --output-on-failure -j 2 | tee -a "$results"

# The driver of scripts/measure.sh still finds, connects to and polls a
# simulated instrument: a few seconds of polling, no timing asserted (this is
# no place to measure).
step_started=$SECONDS
"$build_dir/bin/zentaval-sim" >"$results.devices" &
simulator_pid=$!
for _ in $(seq 100); do
    [ -s "$results.devices" ] && break
    sleep 0.05
done
device="$(head -n 1 "$results.devices")"
if [ -z "$device" ] || ! "$build_dir/bin/zentaval-measure" --only-named --poll-seconds 3 "$device" \
    | sed 's/^/    /'; then
    echo "The measurement driver (benchmarks/zentaval-measure) did not connect and poll" >&2
    exit 1
fi
kill "$simulator_pid"
wait "$simulator_pid" || true
simulator_pid=""
echo "Measurement driver: $((SECONDS - step_started)) s"

# The whole suite again, built with AddressSanitizer and UndefinedBehaviorSanitizer:
# any report, leaks included, fails the test that raised it.
step_started=$SECONDS
sanitize_dir="$(dirname "$build_dir")/build-sanitize"
"$root/scripts/build.sh" "$sanitize_dir" -DZENTAVAL_SANITIZE=ON
ASAN_OPTIONS=halt_on_error=1:detect_leaks=1 \
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0" \
    ctest --test-dir "$sanitize_dir" --output-on-failure -j 2 | tee -a "$results"
echo "Sanitized suite: $((SECONDS - step_started)) s"

# The decoding and capture rules under libFuzzer, briefly.
step_started=$SECONDS
ZENTAVAL_FUZZ_BUILD_DIR="$(dirname "$build_dir")/build-fuzz" "$root/scripts/fuzz.sh" 15
echo "Fuzzing: $((SECONDS - step_started)) s"

# Both suites passed (a failure stops the script above): one line for both.
passed=$(sed -n 's/.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\2 \1/p' "$results" \
    | awk '{ passed += $1 - $2 } END { print passed }')
echo "Tests: $passed passed, 0 failed"
