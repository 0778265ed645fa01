#!/usr/bin/env bash
# Installs what Orvessa needs to build, run and be tested on Debian 12, then builds it.
# Usage: scripts/setup.sh [build-folder [extra cmake arguments...]]
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
    g++ cmake ninja-build pkg-config clang-format
    qtbase5-dev libqt5websockets5-dev libqt5serialport5-dev
    libhamlib-dev libhamlib++-dev libfmt-dev
    # tests: a private X server, synthetic input, fonts for real windows
    xvfb xdotool fonts-dejavu-core
    # tests: a system tray on the private X server, a real desktop-entry reader
    trayer libglib2.0-bin
    # tests: loopback multicast inside a private network namespace
    iproute2
    # packaging: dependencies of the .deb from the linked libraries; its test validates launcher and AppStream data
    dpkg-dev desktop-file-utils appstream
    # tests: the documented terminal client
    python3
    # tests: a real browser calling the program from an https page with a certificate made at test time
    chromium openssl
)

missing=()
for package in "${packages[@]}"; do
    if [ "$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null)" != "install ok installed" ]; then
        missing+=("$package")
    fi
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi

build=${1:-build}
shift || true
if [ ! -f "$build/build.ninja" ]; then
    cmake -S . -B "$build" -G Ninja "$@" >/dev/null
fi
cmake --build "$build"
