#!/usr/bin/env bash
# The one set-up and run script of the project.
#   ./quillary.sh demo [--seconds N]   install what is missing, build, run the system on a simulated
#                                      device for N seconds (default 30; Ctrl-C ends it sooner)
#   ./quillary.sh test [--repeat N]    install what is missing, check the C++ files' layout, build the
#                                      presets, run every test: the default and asan presets, then the
#                                      Qt-free test programs under ThreadSanitizer (tsan); --repeat runs
#                                      the suites N times in a row and stops at the first failure
set -euo pipefail
cd "$(dirname "$(readlink -f "$0")")"

PACKAGES=(cmake ninja-build g++ pkg-config clang libclang-rt-14-dev libgtest-dev libgmock-dev
          libbenchmark-dev qt6-base-dev libjpeg-dev libmodbus-dev libmuparser-dev socat xvfb
          iproute2 fonts-dejavu-core clang-format)

install_packages() {
    local missing=()
    for p in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    echo "== installing: ${missing[*]}"
    "${sudo[@]}" apt-get update
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y "${missing[@]}"
}

build() {
    local preset=$1
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -- -k 0
}

PRESETS=(default asan tsan)

# Every C++ file as the repository's .clang-format lays it out; the files that drift are named and
# the tests fail before anything is built.
check_format() {
    local drift
    drift=$(git ls-files -z '*.cpp' '*.h' | xargs -0 -n 16 -P 8 sh -c \
        'for f; do clang-format --style=file "$f" | cmp -s - "$f" || echo "$f"; done; true' sh | sort)
    [ -z "$drift" ] && return 0
    echo "== these files drift from .clang-format (clang-format -i <file> lays them out):" >&2
    echo "$drift" >&2
    return 1
}

# One run of a preset's suite; its log goes to build/<preset>/ctest.log.
run_suite() {
    ctest --preset "$1" > "build/$1/ctest.log" 2>&1
}

run_tests() {
    local repeat=0
    while [ $# -gt 0 ]; do
        case "$1" in
            --repeat) [ $# -ge 2 ] || { echo "--repeat needs a number" >&2; exit 2; }; repeat=$2; shift 2 ;;
            --repeat=*) repeat=${1#--repeat=}; shift ;;
            *) echo "usage: $0 test [--repeat N]" >&2; exit 2 ;;
        esac
    done
    [[ "$repeat" =~ ^[0-9]+$ ]] || { echo "--repeat needs a whole number" >&2; exit 2; }
    install_packages
    check_format
    local preset
    for preset in "${PRESETS[@]}"; do build "$preset"; done
    if [ "$repeat" -eq 0 ]; then
        local status=0
        for preset in "${PRESETS[@]}"; do
            ctest --preset "$preset" 2>&1 | tee "build/$preset/ctest.log" || status=1
        done
        echo
        for preset in "${PRESETS[@]}"; do
            echo "== $preset: $(grep -E 'tests passed|tests failed' "build/$preset/ctest.log" | tail -n 1)"
        done
        return $status
    fi

    # Every preset's suite once per run; the first failure ends the counting.
    declare -A passed=()
    for preset in "${PRESETS[@]}"; do passed[$preset]=0; done
    local run failed=""
    for ((run = 1; run <= repeat; run++)); do
        for preset in "${PRESETS[@]}"; do
            if run_suite "$preset"; then
                passed[$preset]=$((passed[$preset] + 1))
                echo "== run $run/$repeat: $preset passed"
            else
                failed=$preset
                echo "== run $run/$repeat: $preset FAILED (log: build/$preset/ctest.log)"
                sed -n '/The following tests FAILED/,$p' "build/$preset/ctest.log"
                break 2
            fi
        done
    done
    echo
    for preset in "${PRESETS[@]}"; do echo "== $preset: ${passed[$preset]} of $repeat runs passed"; done
    [ -z "$failed" ]
}

# ---- the demo ----

# Whether this process may send an ICMP echo: a raw socket needs CAP_NET_RAW, the unprivileged
# datagram socket a group inside net.ipv4.ping_group_range.
can_ping() {
    local cap
    cap=$(awk '/^CapEff:/ {print $2}' /proc/self/status 2>/dev/null || echo 0)
    (( (16#${cap:-0} >> 13) & 1 )) && return 0
    local low high g
    read -r low high < /proc/sys/net/ipv4/ping_group_range 2>/dev/null || return 1
    for g in $(id -G); do
        (( g >= low && g <= high )) && return 0
    done
    return 1
}

# build/demo: the built module, server and libraries with the demo's files from tools/demo.
demo_layout() {
    local bin=$1 dir=$2 icmp=TRUE
    rm -rf "$dir"
    mkdir -p "$dir"
    local f
    for f in Quillary.dlm Quillary.srv Quillary.ico libostroplatform.so libMirandol.so libVantorel.so \
             QuillarySetup.jpg QuillaryQuestion.bmp QuillaryError.bmp QuillaryInformation.bmp QuillaryLogo.bmp QuillaryLog.bmp; do
        cp "$bin/$f" "$dir/"
    done
    if ! can_ping; then
        icmp=FALSE
        echo "== ICMPOnConnect set FALSE: this user may not send ICMP echo (no CAP_NET_RAW, no group in net.ipv4.ping_group_range)"
    fi
    sed "s/@ICMP_ON_CONNECT@/$icmp/" tools/demo/Quillary.cfg.in > "$dir/Quillary.cfg"
    sed "s|@LOG_FILE@|$dir/Quillary.log|" tools/demo/Quillary.ini.in > "$dir/Quillary.ini"
    cp tools/demo/Quillary.edd tools/demo/Ostrolinka.tagdb tools/demo/device.conf "$dir/"
}

# Processes whose command line names the demo directory.
demo_processes() {
    local p
    for p in /proc/[0-9]*; do
        [ "${p#/proc/}" = "$$" ] && continue
        { tr '\0' ' ' < "$p/cmdline"; } 2>/dev/null | grep -qF "$1/" && echo "${p#/proc/}"
    done
    return 0
}

run_demo() {
    local seconds=30
    while [ $# -gt 0 ]; do
        case "$1" in
            --seconds) [ $# -ge 2 ] || { echo "--seconds needs a number" >&2; exit 2; }; seconds=$2; shift 2 ;;
            --seconds=*) seconds=${1#--seconds=}; shift ;;
            *) echo "usage: $0 demo [--seconds N]" >&2; exit 2 ;;
        esac
    done
    [[ "$seconds" =~ ^[1-9][0-9]*$ ]] || { echo "--seconds needs a whole number above 0" >&2; exit 2; }
    local write_at=5
    (( seconds <= 10 )) && write_at=$(( seconds / 2 > 0 ? seconds / 2 : 1 ))

    install_packages
    cmake --preset default >/dev/null
    cmake --build --preset default --target quillary_dlm quillary_srv ostrolinka-host modbus-sim Mirandol Vantorel

    local bin=$PWD/build/default/bin dir=$PWD/build/demo
    demo_layout "$bin" "$dir"

    # The run's own namespace keeps its shared blocks and windows apart from anything else.
    export OSTROLINKA_NAMESPACE="quillary-demo-$$"
    [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] || export QT_QPA_PLATFORM=offscreen
    local runtime=""
    if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
        runtime=$(mktemp -d)
        export XDG_RUNTIME_DIR=$runtime
    fi

    echo "== the converter: modbus-sim on 127.0.0.1:4001, input register 0 counting every second"
    "$bin/modbus-sim" --tcp 4001 --config "$dir/device.conf" --animate=1000 --write-log "$dir/writes.log" \
        --exit-with-parent > "$dir/modbus-sim.out" 2>&1 &
    local sim=$!
    local i
    for i in $(seq 50); do
        grep -q '^READY' "$dir/modbus-sim.out" && break
        kill -0 "$sim" 2>/dev/null || break
        sleep 0.1
    done
    if ! grep -q '^READY' "$dir/modbus-sim.out"; then
        cat "$dir/modbus-sim.out" >&2
        echo "demo: modbus-sim did not start (is port 4001 taken?)" >&2
        kill "$sim" 2>/dev/null || true
        exit 1
    fi

    echo "== ostrolinka-host on $dir for $seconds s; SETPOINT is written 321 after $write_at s; Ctrl-C stops"
    # The host takes Ctrl-C itself and stops the module; this script goes on to check what is left.
    trap ':' INT TERM
    local status=0
    "$bin/ostrolinka-host" --seconds "$seconds" --write "SETPOINT=321@$write_at" "$dir" || status=$?
    trap - INT TERM

    kill "$sim" 2>/dev/null || true
    wait "$sim" 2>/dev/null || true
    echo "== the device's write log:"
    sed 's/^/   /' "$dir/writes.log" 2>/dev/null || true

    # Nothing of the run may stay: no process, no shared block (the last process of the run to
    # leave takes the platform's window table with it).
    local left="" block
    for i in $(seq 100); do
        left=$(demo_processes "$dir")
        [ -z "$left" ] && break
        sleep 0.1
    done
    local blocks
    blocks=$(ls /dev/shm 2>/dev/null | grep -F "$OSTROLINKA_NAMESPACE." || true)
    [ -n "$runtime" ] && rm -rf "$runtime"
    if [ -n "$left" ] || [ -n "$blocks" ]; then
        [ -n "$left" ] && echo "demo: processes left: $(echo $left)" >&2
        for block in $blocks; do echo "demo: shared block left: /dev/shm/$block" >&2; done
        exit 1
    fi
    echo "== left behind: no process, no shared block (checked ps and /dev/shm)"
    return $status
}

case "${1:-}" in
    test) shift; run_tests "$@" ;;
    demo) shift; run_demo "$@" ;;
    *) echo "usage: $0 demo [--seconds N] | $0 test [--repeat N]" >&2; exit 2 ;;
esac
