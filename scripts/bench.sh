#!/usr/bin/env bash
# Builds Orvessa and the bench (nothing of the test suite) in build/, then runs the bench; arguments go to it,
# e.g. scripts/bench.sh --short --only rtt,relay. The table goes to standard output, progress to standard error.
# Needs the packages scripts/setup.sh installs.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ ! -f build/build.ninja ]; then
    cmake -S . -B build -G Ninja >&2
fi
cmake --build build --target orvessa orvessa-radio orvessa-bench orvessa-bench-baseline >&2
exec build/tools/bench/orvessa-bench "$@"
