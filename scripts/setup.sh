#!/usr/bin/env bash
# Installs what Orvessa needs to build, run and be tested on Debian 12, then configures a build folder.
# Usage: scripts/setup.sh [build-folder [extra cmake arguments...]]
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
    g++ cmake ninja-build pkg-config clang-format
    qtbase5-dev libqt5websockets5-dev libqt5serialport5-dev
    libhamlib-dev libhamlib++-dev libfmt-dev
    # tests: fonts for the windows on the offscreen platform
    fonts-dejavu-core
    # tests: private network namespaces with loopback multicast
    iproute2
    # packaging: dependencies of the .deb from the linked libraries; its test validates launcher and AppStream data
    dpkg-dev desktop-file-utils appstream
    # tests: the documented terminal client
    python3
    # tests: a real browser calling the program from an https page with a certificate made at test time
    chromium openssl
    # fuzzing (scripts/fuzz.sh): clang and its sanitizer runtimes, libFuzzer among them
    clang libclang-rt-dev
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
