#!/usr/bin/env bash
# Builds and runs the whole suite twice: a normal build, then one with AddressSanitizer and
# UndefinedBehaviorSanitizer. Stops at the first failing run.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

scripts/setup.sh build
(cd build && ctest --output-on-failure -j "$jobs")

scripts/setup.sh build-sanitize -DORVESSA_SANITIZE=ON
(cd build-sanitize && ctest --output-on-failure -j "$jobs")
