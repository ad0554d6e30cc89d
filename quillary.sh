#!/usr/bin/env bash
# The one set-up and run script of the project.
#   ./quillary.sh test   install what is missing, build both presets, run every test
set -euo pipefail
cd "$(dirname "$(readlink -f "$0")")"

PACKAGES=(cmake ninja-build g++ pkg-config clang libclang-rt-14-dev libgtest-dev libgmock-dev
          libbenchmark-dev qt6-base-dev libjpeg-dev libmodbus-dev libmuparser-dev socat xvfb
          iproute2 fonts-dejavu-core)

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

run_tests() {
    install_packages
    local status=0
    build default
    build asan
    ctest --preset default 2>&1 | tee build/default/ctest.log || status=1
    ctest --preset asan 2>&1 | tee build/asan/ctest.log || status=1
    echo
    for preset in default asan; do
        echo "== $preset: $(grep -E 'tests passed|tests failed' "build/$preset/ctest.log" | tail -n 1)"
    done
    return $status
}

case "${1:-}" in
    test) run_tests ;;
    *) echo "usage: $0 test" >&2; exit 2 ;;
esac
