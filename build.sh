#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds and checks CParameters: each subcommand installs what it needs (as
# root on Debian, with apt-get), builds its CMake preset and runs it. The
# subcommands are listed in README.md.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/debian.sh

usage() {
    echo "usage: ./build.sh run|test|sanitize|fuzz [seconds]|armhf|musl|footprint|bench [default-malloc]|deb" >&2
    exit 2
}

# Every processor of the machine, unless the caller says otherwise.
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}
export CTEST_PARALLEL_LEVEL=${CTEST_PARALLEL_LEVEL:-$(nproc)}

base_packages=(g++ make cmake pkg-config libjsoncpp-dev libunittest++-dev abigail-tools valgrind nlohmann-json3-dev locales
    groff-base mosquitto mosquitto-clients python3-jsonschema)
fuzz_packages=(clang libclang-rt-14-dev)
bench_packages=(libbenchmark-dev nlohmann-json3-dev valgrind jq hyperfine)
armhf_packages=(crossbuild-essential-armhf qemu-user mmdebstrap cmake pkg-config abigail-tools)
musl_packages=(cmake make pkg-config qemu-user mmdebstrap dpkg-dev xz-utils binutils-arm-linux-gnueabihf abigail-tools)
deb_packages=(mmdebstrap lintian util-linux arch-test)
# Debian's npm only where there is none: it conflicts with other node installs.
command -v npm >/dev/null || musl_packages+=(npm)

# The musl toolchain and target tree, made once per version of the script that
# makes them and processor it is asked for, and kept in the cache folder; the
# build gets a copy of the tree, which its install tests write into.
make_musl_tree() {
    local script=toolchains/musl/make-toolchain.sh key cache
    key=musl-$({ cat "$script"; echo "${CPARAMETERS_MUSL_CPU:-}"; } | sha256sum | cut -c1-16)
    cache=${CPARAMETERS_CACHE:-$HOME/.cache/cparameters}/$key
    "$script" "$cache"
    if [ "$(cat build/sysroot-musl/.complete 2>/dev/null)" != "$key" ]; then
        rm -rf build/sysroot-musl
        mkdir -p build
        cp -a "$cache/sysroot" build/sysroot-musl
        echo "$key" >build/sysroot-musl/.complete
    fi
    export CPARAMETERS_MUSL_TOOLCHAIN=$cache/toolchain
}

# Configures and builds one preset.
build() {
    cmake --preset "$1"
    cmake --build --preset "$1"
}

# Runs one preset's tests. CTest names a skipped test without its reason,
# which the test printed as "skipped: REASON": this prints those after it.
run_tests() {
    local status=0
    ctest --preset "$1" || status=$?
    awk '/^[0-9]+\/[0-9]+ Test: / { test = $3 } sub(/^skipped: /, "") { print "skipped: " test ": " $0 }' \
        "build/$1/Testing/Temporary/LastTest.log" || true
    return $status
}

case "${1:-}" in
run)
    need_packages "${base_packages[@]}"
    build default
    exec build/default/src/CParameters/CParametersTest
    ;;
test)
    need_packages "${base_packages[@]}"
    build default
    run_tests default
    ;;
sanitize)
    need_packages "${base_packages[@]}"
    build sanitize
    run_tests sanitize
    ;;
fuzz)
    need_packages "${base_packages[@]}" "${fuzz_packages[@]}"
    build fuzz
    exec fuzz/run.sh build/fuzz "${2:-60}"
    ;;
armhf)
    need_packages "${armhf_packages[@]}"
    toolchains/armhf/make-tree.sh build/sysroot-armhf
    build armhf
    run_tests armhf
    ;;
musl)
    need_packages "${musl_packages[@]}"
    make_musl_tree
    build musl
    run_tests musl
    ;;
bench)
    need_packages "${base_packages[@]}" "${bench_packages[@]}"
    build bench
    exec bench/run.sh build/bench "${2:-}"
    ;;
footprint)
    need_packages "${armhf_packages[@]}" "${musl_packages[@]}" "${base_packages[@]}" time
    toolchains/armhf/make-tree.sh build/sysroot-armhf
    make_musl_tree
    for preset in armhf musl default; do
        build $preset
    done
    exec bench/footprint.sh build
    ;;
deb)
    # The Debian packages built, linted and used in fresh Debian 12 chroots:
    # see packaging/deb.sh.
    need_packages "${deb_packages[@]}"
    packaging/deb.sh
    ;;
*)
    usage
    ;;
esac
