#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test without a display.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${ZENTAVAL_BUILD_DIR:-$root/build}"

"$root/scripts/install-dependencies.sh"
"$root/scripts/build.sh" "$build_dir"

export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build_dir" --output-on-failure -j 2
