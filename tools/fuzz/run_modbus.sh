#!/usr/bin/env bash
# Builds the Modbus fuzz targets (poll replies with decoding, description file loader) with clang and
# libFuzzer, outside the two presets, and runs each of them.
#   tools/fuzz/run_modbus.sh [seconds per target]     (default 60)
# Objects and targets go to build/fuzz-modbus/, each target's growing corpus to
# build/fuzz-modbus/corpus/<target>/, findings to build/fuzz-modbus/findings/.
set -euo pipefail
here="$(dirname "$(readlink -f "$0")")"
root="$(readlink -f "$here/../..")"
seconds="${1:-60}"
out="$root/build/fuzz-modbus"
mkdir -p "$out/obj" "$out/findings"

CXX="${CXX_FUZZ:-clang++}"
flags=(-std=c++20 -O1 -g -fno-omit-frame-pointer -ffp-contract=off -fsanitize=address,undefined
       -fno-sanitize-recover=all -I"$root")

# The layers below the protocol go into one archive, so that a target takes only what it uses.
sources=("$root"/platform/*.cpp "$root"/framework/*.cpp "$root"/evaluator/*.cpp "$root"/modbus/*.cpp)
printf '%s\n' "${sources[@]}" | xargs -P "$(nproc)" -I{} bash -c \
    'o="$1/obj/$(echo "$2" | sed "s|^$3/||; s|/|_|g").o"; "$4" "${@:5}" -fsanitize=fuzzer-no-link -c "$2" -o "$o"' \
    _ "$out" {} "$root" "$CXX" "${flags[@]}"
rm -f "$out/libmodbus_layers.a"
ar rcs "$out/libmodbus_layers.a" "$out"/obj/*.o

status=0
for target in fuzz_read_response fuzz_edd_loader; do
    "$CXX" "${flags[@]}" -fsanitize=fuzzer "$here/$target.cpp" "$out/libmodbus_layers.a" -lpthread -lrt \
        -o "$out/$target"
    mkdir -p "$out/corpus/$target"
    cp -n "$here/corpus/${target#fuzz_}"/* "$out/corpus/$target/" 2>/dev/null || true
    dict=()
    [ "$target" = fuzz_edd_loader ] && dict=(-dict="$here/edd.dict")
    (cd "$out" && ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}" \
        UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}" \
        "./$target" "${dict[@]}" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
        -artifact_prefix="$out/findings/$target-" -print_final_stats=1 "corpus/$target") || status=1
done
exit $status
