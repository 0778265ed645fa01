#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ (configured once) and runs each for the given seconds,
# keeping what it learns in build-fuzz/fuzz-corpus/. Exits non-zero on any finding, whose input is left in
# build-fuzz/fuzz-findings/. Installs nothing: scripts/setup.sh brings clang and libFuzzer.
# Usage: scripts/fuzz.sh [seconds-per-target [inputs-per-target]]: with a number of inputs, each target runs
# until it has tried that many, the seconds being only an upper bound. FUZZ_TARGETS="framer dispatch" picks targets.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-10}
runs=${2:-}
build=build-fuzz
fuzz=tests/fuzz
if [ ! -f "$build/build.ninja" ]; then
    CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DORVESSA_FUZZ=ON >/dev/null
fi
cmake --build "$build" --target fuzzers >&2

export ASAN_OPTIONS=detect_stack_use_after_return=0:verify_asan_link_order=0
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export LSAN_OPTIONS=suppressions=$PWD/$fuzz/lsan.supp
mkdir -p "$build/fuzz-findings"
failed=()
for target in ${FUZZ_TARGETS:-framer dispatch patterns autostart writer rigctl}; do
    corpus=$build/fuzz-corpus/$target
    mkdir -p "$corpus"
    # Qt's leak (lsan.supp) grows the heap by a few hundred bytes an input: room for a long run.
    # Requests and datagrams are short: longer inputs only slow each run down.
    options=(-max_total_time="$seconds" -max_len=1024 -timeout=10 -rss_limit_mb=6144 -print_final_stats=1
             -artifact_prefix="$build/fuzz-findings/$target-")
    [ -z "$runs" ] || options+=(-runs="$runs")
    inputs=("$corpus")
    case $target in
    framer | dispatch | writer) options+=(-dict="$fuzz/orvessa.dict") inputs+=("$fuzz/seeds") ;;
    esac
    # Each input that leaks, even in a suppressed way (lsan.supp), costs a scan of the whole heap: leaks are
    # looked for where objects of ours come and go, the dispatch, and not in the pure targets.
    [ "$target" = dispatch ] || options+=(-detect_leaks=0)
    echo "== fuzz_$target for ${seconds} s" >&2
    # libFuzzer looks at its clock between inputs only: the outer bound holds if start-up or one input hangs.
    if ! timeout --kill-after=10 $((seconds + 120)) "$build/$fuzz/fuzz_$target" "${options[@]}" "${inputs[@]}"; then
        failed+=("fuzz_$target")
    fi
done
if [ ${#failed[@]} -gt 0 ]; then
    echo "Findings in: ${failed[*]} (inputs in $build/fuzz-findings/)" >&2
    exit 1
fi
echo "No findings" >&2
