#!/usr/bin/env bash
# Configures and builds the program, its tools and its tests into a folder.
# Usage: scripts/build.sh BUILD_DIR [extra cmake arguments...]
set -euo pipefail

source_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="$1"
shift

cmake -S "$source_dir" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$build_dir" -j "$(nproc)"
