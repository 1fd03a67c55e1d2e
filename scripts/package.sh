#!/usr/bin/env bash
# Builds the Debian package of the program from a fresh Release build and puts
# zentaval_<version>_<arch>.deb into OUTPUT_DIR (default: the current folder).
# Install it with: sudo apt-get install ./zentaval_*.deb
# Usage: scripts/package.sh [OUTPUT_DIR]
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
output_dir="$(mkdir -p "${1:-.}" && cd "${1:-.}" && pwd)"

"$root/scripts/install-dependencies.sh"
# dpkg-shlibdeps, which finds the libraries the package depends on.
if ! command -v dpkg-shlibdeps >/dev/null; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends dpkg-dev
fi

build_dir="$(mktemp -d)"
trap 'rm -rf "$build_dir"' EXIT

cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZENTAVAL_BUILD_TESTS=OFF \
    -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build "$build_dir" -j 2
(cd "$build_dir" && cpack -G DEB >/dev/null)

for package in "$build_dir"/zentaval_*.deb; do
    cp "$package" "$output_dir/"
    echo "$output_dir/$(basename "$package")"
done
