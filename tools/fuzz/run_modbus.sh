#!/usr/bin/env bash
# Builds the fuzz targets of the driver's layers with clang and libFuzzer, outside the two presets,
# and runs each of them in turn: poll replies with decoding, the description file, the configuration
# file (the device list's load) and the settings (ini) file.
#   tools/fuzz/run_modbus.sh [seconds per target] [target...]     (default 60, every target)
# Objects and targets go to build/fuzz-modbus/, each target's growing corpus to
# build/fuzz-modbus/corpus/<target>/, findings to build/fuzz-modbus/findings/. FUZZ_JOBS bounds the
# parallel compiles (default: every CPU); FUZZ_PARALLEL=1 runs the targets at the same time, one CPU
# each, each writing build/fuzz-modbus/<target>.log.
set -euo pipefail
here="$(dirname "$(readlink -f "$0")")"
root="$(readlink -f "$here/../..")"
seconds="${1:-60}"
shift $(( $# > 0 ? 1 : 0 ))
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_read_response fuzz_edd_loader fuzz_config_loader fuzz_ini_file)
out="$root/build/fuzz-modbus"
mkdir -p "$out/obj" "$out/findings"

CXX="${CXX_FUZZ:-clang++}"
flags=(-std=c++20 -O1 -g -fno-omit-frame-pointer -ffp-contract=off -fsanitize=address,undefined
       -fno-sanitize-recover=all -I"$root")

# The layers below the protocol go into one archive, so that a target takes only what it uses.
sources=("$root"/platform/*.cpp "$root"/framework/*.cpp "$root"/evaluator/*.cpp "$root"/modbus/*.cpp)
printf '%s\n' "${sources[@]}" | xargs -P "${FUZZ_JOBS:-$(nproc)}" -I{} bash -c \
    'o="$1/obj/$(echo "$2" | sed "s|^$3/||; s|/|_|g").o"; "$4" "${@:5}" -fsanitize=fuzzer-no-link -c "$2" -o "$o"' \
    _ "$out" {} "$root" "$CXX" "${flags[@]}"
rm -f "$out/libmodbus_layers.a"
ar rcs "$out/libmodbus_layers.a" "$out"/obj/*.o

for target in "${targets[@]}"; do
    "$CXX" "${flags[@]}" -fsanitize=fuzzer "$here/$target.cpp" "$out/libmodbus_layers.a" -lpthread -lrt \
        -o "$out/$target"
    mkdir -p "$out/corpus/$target"
    cp -n "$here/corpus/${target#fuzz_}"/* "$out/corpus/$target/" 2>/dev/null || true
done

run() {
    local target="$1" dict=() max_len=4096
    [ -f "$here/${target#fuzz_}.dict" ] && dict=(-dict="$here/${target#fuzz_}.dict")
    # The XML readers get inputs long enough to nest elements of one name thousands of levels deep,
    # past the reader's limit.
    case "$target" in fuzz_edd_loader | fuzz_config_loader) max_len=65536 ;; esac
    cd "$out" && ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}" \
        UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}" \
        "./$target" "${dict[@]}" -max_total_time="$seconds" -max_len="$max_len" -timeout=10 \
        -artifact_prefix="$out/findings/$target-" -print_final_stats=1 "corpus/$target"
}

status=0
if [ "${FUZZ_PARALLEL:-0}" = 1 ]; then
    pids=()
    for target in "${targets[@]}"; do
        (run "$target") >"$out/$target.log" 2>&1 &
        pids+=($!)
    done
    for pid in "${pids[@]}"; do wait "$pid" || status=1; done
    for target in "${targets[@]}"; do echo "== $target"; grep -E "^stat::|ERROR|SUMMARY" "$out/$target.log" || true; done
else
    for target in "${targets[@]}"; do (run "$target") || status=1; done
fi
exit $status
