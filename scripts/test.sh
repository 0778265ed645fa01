#!/usr/bin/env bash
# Builds and runs the whole suite twice: a normal build, then one with AddressSanitizer and
# UndefinedBehaviorSanitizer; then a short run of each fuzz target. Stops at the first failing run.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

for build in build build-sanitize; do
    options=()
    [ "$build" = build-sanitize ] && options=(-DORVESSA_SANITIZE=ON)
    scripts/setup.sh --tests "$build" "${options[@]}"
    cmake --build "$build"
    (cd "$build" && ctest --output-on-failure -j "$jobs")
done

# Ten seconds per target: enough to catch what a change breaks outright; long campaigns are run by hand.
scripts/fuzz.sh 10
