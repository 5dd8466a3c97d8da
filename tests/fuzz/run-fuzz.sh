#!/bin/bash
# Builds the .reg parser fuzz target with clang and fuzzes it for a bounded time.
#
#   run-fuzz.sh BUILD_DIR SECONDS
#
# BUILD_DIR is a build directory of its own (configured from tests/fuzz alone).
# The fuzzer starts from the seed corpus in tests/fuzz/corpus/regfile and keeps
# what it finds in BUILD_DIR/corpus, so the repository's seeds stay as they
# are. A crash or a broken invariant leaves its input in BUILD_DIR/artifacts
# and makes the script exit non-zero; replay it with
#   BUILD_DIR/fuzz_regfile BUILD_DIR/artifacts/crash-...
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
cmake --build "$build_dir" --target fuzz_regfile -j 2

mkdir -p "$build_dir/corpus" "$build_dir/artifacts"
cp -n "$here"/corpus/regfile/* "$build_dir/corpus/" 2>/dev/null || true

"$build_dir/fuzz_regfile" \
    -max_total_time="$seconds" \
    -timeout=10 \
    -rss_limit_mb=2048 \
    -max_len=16384 \
    -dict="$here/regfile.dict" \
    -artifact_prefix="$build_dir/artifacts/" \
    -print_final_stats=1 \
    "$build_dir/corpus"
