#!/usr/bin/env bash
# Builds the evaluator's fuzz target with clang and libFuzzer, outside the two presets, and runs it.
#   tools/fuzz/run.sh [seconds]     (default 60)
# The build goes to build/fuzz/, the growing corpus to build/fuzz/corpus/ (seeded from
# tools/fuzz/corpus/evaluation/), findings to build/fuzz/findings/.
set -euo pipefail
here="$(dirname "$(readlink -f "$0")")"
root="$(readlink -f "$here/../..")"
seconds="${1:-60}"
out="$root/build/fuzz"
mkdir -p "$out/corpus" "$out/findings"

CXX="${CXX_FUZZ:-clang++}"
# The evaluator needs only the text layer of the platform.
"$CXX" -std=c++20 -O1 -g -fno-omit-frame-pointer -ffp-contract=off \
    -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
    -I"$root" \
    "$root"/evaluator/*.cpp "$root/platform/text.cpp" "$here/evaluation_fuzz.cpp" \
    -o "$out/evaluation_fuzz"

cp -n "$here"/corpus/evaluation/* "$out/corpus/" 2>/dev/null || true
cd "$out"
ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}" UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}" \
    ./evaluation_fuzz -max_total_time="$seconds" -dict="$here/evaluation.dict" -max_len=512 \
    -artifact_prefix="$out/findings/" -print_final_stats=1 corpus
