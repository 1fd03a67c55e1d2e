#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test without a display.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${ZENTAVAL_BUILD_DIR:-$root/build}"

"$root/scripts/install-dependencies.sh"
"$root/scripts/build.sh" "$build_dir"

export QT_QPA_PLATFORM=offscreen
results="$(mktemp)"
trap 'rm -f "$results"' EXIT
ctest --test-dir "$build_dir" --output-on-failure -j 2 | tee -a "$results"

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
