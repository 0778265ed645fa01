#!/usr/bin/env bash
# Builds Orvessa and the soak (nothing of the test suite) in build/, then runs the soak; arguments go to it,
# e.g. scripts/soak.sh --quick. Rows and verdict go to standard output, progress to standard error; the exit status
# is the soak's (1: growth or failed work). Needs the packages scripts/setup.sh installs.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ ! -f build/build.ninja ]; then
    cmake -S . -B build -G Ninja >&2
fi
cmake --build build --target orvessa orvessa-radio orvessa-soak >&2
exec build/tools/bench/orvessa-soak "$@"
