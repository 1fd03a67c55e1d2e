#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program with a simulated
# Zentaval on a pseudo-terminal. Close the window to stop both.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${ZENTAVAL_BUILD_DIR:-$root/build}"

"$root/scripts/install-dependencies.sh"
"$root/scripts/build.sh" "$build_dir"

bin="$build_dir/bin"
paths_file="$(mktemp)"
# The instrument is reached through a link that a restarted simulator points
# at its new pseudo-terminal, as a /dev/serial/by-id link follows a replugged
# adapter: stop and restart zentaval-sim and the program connects again by
# itself. ZENTAVAL_DEMO_LATE=S starts the simulator S seconds after the
# program, as an instrument plugged in later.
link="${TMPDIR:-/tmp}/ttyZentaval"
late="${ZENTAVAL_DEMO_LATE:-0}"
rm -f "$link"
(sleep "$late"; exec "$bin/zentaval-sim" --link "$link" >"$paths_file") &
simulator=$!
trap 'pkill -P "$simulator" 2>/dev/null; kill "$simulator" 2>/dev/null || true; rm -f "$paths_file"' EXIT

if [ "$late" = 0 ]; then
    for _ in $(seq 50); do
        [ -s "$paths_file" ] && break
        sleep 0.1
    done
    if [ ! -s "$paths_file" ]; then
        echo "The simulated instrument did not start." >&2
        exit 1
    fi
fi
echo "Simulated Zentaval on $link (restart it with: $bin/zentaval-sim --link $link)"
device="$link"

# The program reads its capture template from the working directory.
cd "$bin"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    ./zentaval "$device"
else
    echo "No display: running on a virtual X server (xvfb-run)."
    xvfb-run -a ./zentaval "$device"
fi
