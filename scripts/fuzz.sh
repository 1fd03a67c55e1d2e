#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each one, starting from a
# copy of its seed corpus, for a bounded time or number of inputs. Fails when a
# target finds a crash, a sanitizer report or a broken rule.
# Usage: scripts/fuzz.sh [SECONDS_PER_TARGET | --runs N]   (default: 15 seconds)
# The build folder is $ZENTAVAL_FUZZ_BUILD_DIR, else build-fuzz in the source tree.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${ZENTAVAL_FUZZ_BUILD_DIR:-$root/build-fuzz}"
targets=(measurementreply capturepasses)

bound=(-max_total_time=15)
case "${1:-}" in
    "") ;;
    --runs)
        [[ "${2:-}" =~ ^[0-9]+$ ]] || { echo "usage: $0 [SECONDS | --runs N]" >&2; exit 2; }
        bound=(-runs="$2")
        ;;
    *)
        [[ "$1" =~ ^[0-9]+$ ]] || { echo "usage: $0 [SECONDS | --runs N]" >&2; exit 2; }
        bound=(-max_total_time="$1")
        ;;
esac

cc="${ZENTAVAL_FUZZ_CC:-clang-14}"
cxx="${ZENTAVAL_FUZZ_CXX:-clang++-14}"
if ! command -v "$cxx" >/dev/null; then
    echo "fuzz: $cxx not found (Debian packages clang-14 and libclang-rt-14-dev)" >&2
    exit 1
fi

CC="$cc" CXX="$cxx" cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DZENTAVAL_FUZZ=ON -DZENTAVAL_BUILD_TESTS=ON >/dev/null
cmake --build "$build_dir" -j 2 --target zentaval_fuzz_targets

work="$(mktemp -d "${TMPDIR:-/tmp}/zentaval-fuzz.XXXXXX")"
trap 'rm -rf "$work"' EXIT

status=0
for target in "${targets[@]}"; do
    corpus="$work/corpus-$target"
    cp -r "$root/tests/fuzz/corpus/$target" "$corpus"
    echo "fuzz: $target (${bound[*]})"
    # One process on one core. Crash inputs land in the temporary folder; a
    # failing one is copied next to the build so that it survives the clean-up.
    if ! (cd "$work" && "$build_dir/fuzz/fuzz_$target" "${bound[@]}" -timeout=30 \
            -print_final_stats=1 -artifact_prefix="$work/$target-" "$corpus" \
            >"$work/$target.log" 2>&1); then
        status=1
        mkdir -p "$build_dir/fuzz-findings"
        cp "$work/$target-"* "$build_dir/fuzz-findings/" 2>/dev/null || true
        cp "$work/$target.log" "$build_dir/fuzz-findings/"
        tail -n 40 "$work/$target.log" >&2
        echo "fuzz: $target FAILED; inputs and log in $build_dir/fuzz-findings" >&2
    else
        grep -E '^(#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units|stat::peak_rss_mb)' "$work/$target.log" || true
    fi
done
exit $status
