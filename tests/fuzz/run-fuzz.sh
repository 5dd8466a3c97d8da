#!/bin/bash
# Builds the fuzz targets with clang and fuzzes them for a bounded time.
#
#   run-fuzz.sh BUILD_DIR SECONDS
#
# BUILD_DIR is a build directory of its own (configured from tests/fuzz alone).
# Three targets: the .reg parser, the text conversions (a differential test
# of the fast paths against the C library) and the provider host protocol's
# decoder (its seeds are sessions recorded by record-host.sh). Each starts from its seed corpus in
# tests/fuzz/corpus/<target> and keeps what it finds in BUILD_DIR/corpus-<target>.
# A crash or a broken invariant leaves its input in BUILD_DIR/artifacts-<target>
# and makes the script exit non-zero; replay it with
#   BUILD_DIR/fuzz_<target> BUILD_DIR/artifacts-<target>/crash-...
set -euo pipefail

if [ $# -ne 2 ] || ! [[ $2 =~ ^[0-9]+$ ]]; then
    echo "usage: $0 BUILD_DIR SECONDS" >&2
    exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
build_dir=$1
seconds=$2

generator=()
if command -v ninja >/dev/null; then generator=(-G Ninja); fi
cmake -S "$here" -B "$build_dir" "${generator[@]}" \
    -DCMAKE_CXX_COMPILER="${CXX_FUZZ:-clang++}" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build_dir" --target fuzz_regfile fuzz_text fuzz_hostproto -j 2

# The targets share the time.
targets=(regfile text hostproto)
share=$(( (seconds + ${#targets[@]} - 1) / ${#targets[@]} ))
for target in "${targets[@]}"; do
    mkdir -p "$build_dir/corpus-$target" "$build_dir/artifacts-$target"
    if [ -d "$here/corpus/$target" ]; then
        cp -n "$here"/corpus/$target/* "$build_dir/corpus-$target/" 2>/dev/null || true
    fi
    dict=()
    [ -f "$here/$target.dict" ] && dict=(-dict="$here/$target.dict")
    echo "fuzzing $target for ${share}s"
    "$build_dir/fuzz_$target" \
        -max_total_time="$share" \
        -timeout=10 \
        -rss_limit_mb=2048 \
        -max_len=16384 \
        "${dict[@]}" \
        -artifact_prefix="$build_dir/artifacts-$target/" \
        -print_final_stats=1 \
        "$build_dir/corpus-$target" 2>&1 | grep -E '^(#[0-9]+ *DONE|stat::number_of_executed_units|==|SUMMARY|conversion mismatch|INFO: fuzzed)' || true
    test "${PIPESTATUS[0]}" -eq 0
done
