#!/usr/bin/env bash
# Installs the Debian 12 packages needed to build, run and test the program.
# Installs only what is missing, so it is quick when everything is there.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-serialport-dev qt6-qpa-plugins
    fonts-liberation fonts-liberation2 fonts-dejavu-core
    xvfb xauth
    clang-14 libclang-rt-14-dev
    libbenchmark-dev
    libyaml-cpp-dev
    python3-pyvisa python3-pyvisa-py netcat-openbsd
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
