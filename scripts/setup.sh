#!/usr/bin/env bash
# Installs what is missing to build and run Orvessa on Debian 12 or 13 (with --tests, also what the tests, the
# package check, the browser check and fuzzing need), then configures a build folder.
# Usage: scripts/setup.sh [--tests] [build-folder [extra cmake arguments...]]
set -euo pipefail
cd "$(dirname "$0")/.."

# Names both releases ship under; apt picks each release's own library packages behind the -dev ones.
packages=(
    g++ cmake ninja-build pkg-config
    qtbase5-dev libqt5websockets5-dev libqt5serialport5-dev
    libhamlib-dev libhamlib++-dev libfmt-dev
)
tests=false
if [ "${1:-}" = --tests ]; then
    tests=true
    shift
    packages+=(
        # the format check
        clang-format
        # fonts for the windows on the offscreen platform
        fonts-dejavu-core
        # private network namespaces with loopback multicast
        iproute2
        # packaging: CPack's .deb step needs file; dependencies of the .deb from the linked libraries; its test
        # validates launcher and AppStream data
        file dpkg-dev desktop-file-utils appstream
        # the documented terminal client
        python3
        # Hamlib's own network client (rigctl -m 2), which drives the radios' shared ports
        libhamlib-utils
        # a real browser calling the program from an https page with a certificate made at test time
        chromium openssl
        # fuzzing (scripts/fuzz.sh): clang and its sanitizer runtimes, libFuzzer among them
        clang libclang-rt-dev
    )
fi

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
# A folder configured by scripts/run.sh did not find clang-format then: configured again, it gets the format check.
if [ ! -f "$build/build.ninja" ] || $tests; then
    cmake -S . -B "$build" -G Ninja "$@" >/dev/null
fi
