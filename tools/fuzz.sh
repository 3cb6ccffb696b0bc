#!/bin/bash
# Builds the libFuzzer targets (tests/fuzz) with clang, ASan and UBSan, and fuzzes each for the given number
# of seconds (default 60) from its seed corpus; prints each target's executions. Exits non-zero on a finding,
# whose input is kept in the build folder.
#
#   bash tools/fuzz.sh [SECONDS] [TARGET...]     TARGET: manifest, settings, headers, block_index, multipart
#                                               (default: all)
set -euo pipefail

seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(manifest settings headers block_index multipart)
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$repo/build-fuzz}

cmake -S "$repo/tests/fuzz" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" >/dev/null

status=0
for name in "${targets[@]}"; do
    mkdir -p "$build/corpus/$name"
    log="$build/$name.log"
    if "$build/${name}_fuzz" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$build/$name-" \
        "$build/corpus/$name" "$repo/tests/fuzz/corpus/$name" >"$log" 2>&1; then
        executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        echo "fuzz $name: $executions executions in $seconds s, nothing found"
    else
        echo "fuzz $name: FOUND a failure (input kept as $build/$name-*); its report:"
        grep -E "ERROR|SUMMARY|abort|outside|did not|length without" "$log" | head -20
        status=1
    fi
done
exit $status
