#!/usr/bin/env bash
# Builds and checks CParameters; see README.md for the subcommands.
# As root on Debian it installs whatever it is missing with apt-get.
set -euo pipefail
cd "$(dirname "$0")"

usage() {
    echo "usage: ./build.sh run|test|sanitize|fuzz [seconds]|armhf|musl|footprint|bench [default-malloc]" >&2
    exit 2
}

# Installs the Debian packages of "$@" that are not installed yet.
need_packages() {
    local missing=() package
    if ! command -v dpkg-query >/dev/null; then
        echo "build.sh: not a Debian system; install the equivalents of: $*" >&2
        exit 1
    fi
    for package in "$@"; do
        dpkg-query -W -f='${Status}\n' "$package" 2>/dev/null | grep -q '^install ok installed$' ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "build.sh: missing packages; as root run: apt-get install ${missing[*]}" >&2
        exit 1
    fi
    echo "build.sh: installing ${missing[*]}"
    apt-get update -q
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

base_packages=(g++ make cmake pkg-config libjsoncpp-dev libunittest++-dev abigail-tools valgrind nlohmann-json3-dev locales)
armhf_packages=(crossbuild-essential-armhf qemu-user mmdebstrap cmake pkg-config abigail-tools)
musl_packages=(cmake make pkg-config qemu-user mmdebstrap dpkg-dev xz-utils binutils-arm-linux-gnueabihf abigail-tools)
deb_packages=(mmdebstrap lintian util-linux arch-test)
# Debian's npm only where there is none: it conflicts with other node installs.
command -v npm >/dev/null || musl_packages+=(npm)
# Absolute: mmdebstrap cannot resolve a relative target whose parent is missing.
sysroot=$PWD/build/sysroot-armhf

# The armhf Debian tree to build against: only unpacked, nothing configured.
# It comes from this machine's own Debian archive (the first one its apt
# sources name) without the update archives, whose armhf indexes have been
# seen half-synced; a failed download is tried three times.
make_sysroot() {
    local try mirror
    [ -e "$sysroot/.complete" ] && return 0
    mirror=$(sed -n 's/^URIs: *\([^ ]*\).*/\1/p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n 1)
    [ -n "$mirror" ] || mirror=$(sed -n 's/^deb \(\[[^]]*\] \)\{0,1\}\([^ ]*\) bookworm .*/\2/p' \
        /etc/apt/sources.list 2>/dev/null | head -n 1)
    mkdir -p build
    for try in 1 2 3; do
        rm -rf "$sysroot"
        if mmdebstrap --variant=extract --architectures=armhf \
            --include=libc6-dev,libstdc++-12-dev,libjsoncpp-dev,libunittest++-dev bookworm "$sysroot" $mirror; then
            touch "$sysroot/.complete"
            return 0
        fi
        echo "build.sh: making the armhf tree failed (try $try of 3)" >&2
        sleep 20
    done
    exit 1
}

# The musl toolchain and target tree, made once per version of the script that
# makes them and processor it is asked for, and kept in the cache folder; the
# build gets a copy of the tree, which its install tests write into.
make_musl_tree() {
    local key
    key=musl-$({ cat cmake/make-musl-toolchain.sh; echo "${CPARAMETERS_MUSL_CPU:-}"; } | sha256sum | cut -c1-16)
    musl_cache=${CPARAMETERS_CACHE:-$HOME/.cache/cparameters}/$key
    cmake/make-musl-toolchain.sh "$musl_cache"
    if [ "$(cat build/sysroot-musl/.complete 2>/dev/null)" != "$key" ]; then
        rm -rf build/sysroot-musl
        mkdir -p build
        cp -a "$musl_cache/sysroot" build/sysroot-musl
        echo "$key" >build/sysroot-musl/.complete
    fi
    export CPARAMETERS_MUSL_TOOLCHAIN=$musl_cache/toolchain
}

# Configures and builds one preset.
build() {
    cmake --preset "$1"
    cmake --build --preset "$1"
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
    ctest --preset default
    ;;
sanitize)
    need_packages "${base_packages[@]}"
    build sanitize
    ctest --preset sanitize
    ;;
fuzz)
    # Each target for the given seconds, from the committed seeds plus what
    # earlier runs here found; a fault stops the run with its report.
    seconds=${2:-60}
    need_packages "${base_packages[@]}" clang libclang-rt-14-dev
    build fuzz
    for name in deserialise deserialise_json; do
        corpus=build/fuzz/corpus/$name
        log=build/fuzz/$name.log
        mkdir -p "$corpus"
        dict=()
        [ "$name" = deserialise_json ] && dict=(-dict=fuzz/json.dict)
        if ! "build/fuzz/fuzz/fuzz_$name" -max_total_time="$seconds" -print_final_stats=1 "${dict[@]}" \
            "$corpus" "fuzz/corpus/$name" >"$log" 2>&1; then
            tail -n 40 "$log"
            echo "fuzz $name: FAULT (inputs in build/fuzz, log $log)" >&2
            exit 1
        fi
        executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        coverage=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -n 1)
        echo "fuzz $name: $executions executions in ${seconds} s without a fault; $coverage; corpus $(ls "$corpus" | wc -l) inputs"
    done
    ;;
armhf)
    need_packages "${armhf_packages[@]}"
    make_sysroot
    build armhf
    ctest --preset armhf
    ;;
musl)
    need_packages "${musl_packages[@]}"
    make_musl_tree
    build musl
    ctest --preset musl
    ;;
bench)
    # One table: median times (Google Benchmark) and instruction counts
    # (callgrind, the steady figure on a shared machine). By default with
    # malloc settings that keep freed memory in the process, so that a call
    # building a multi-megabyte text measures the work rather than the page
    # faults of fresh memory; "bench default-malloc" uses glibc's defaults.
    need_packages "${base_packages[@]}" libbenchmark-dev nlohmann-json3-dev
    malloc=glibc.malloc.mmap_threshold=33554432:glibc.malloc.trim_threshold=4294967295:glibc.malloc.top_pad=67108864
    [ "${2:-}" = default-malloc ] && malloc=
    build bench
    program=build/bench/bench/CParametersBench
    echo "malloc: ${malloc:-glibc defaults}"
    echo "counting instructions under callgrind (about 3 minutes), then timing (about 2 minutes)"
    GLIBC_TUNABLES=$malloc valgrind --tool=callgrind --instr-atstart=no --combine-dumps=yes \
        --callgrind-out-file=build/bench/callgrind.out "$program" --count 2>build/bench/callgrind.log
    GLIBC_TUNABLES=$malloc "$program" build/bench/callgrind.out
    ;;
footprint)
    # Stripped sizes of the armhf and musl builds; the native test program's
    # peak heap (valgrind massif) and peak resident memory (GNU time); the musl
    # test program's peak heap under qemu-arm, where valgrind does not run,
    # counted by a preloaded library of ours (bench/heap_peak.c).
    need_packages "${armhf_packages[@]}" "${musl_packages[@]}" "${base_packages[@]}" time
    make_sysroot
    make_musl_tree
    build armhf
    build musl
    build default
    for file in src/CParameters/libCParameters.so.0 src/CParameters/CParametersTest; do
        for target in armhf musl; do
            arm-linux-gnueabihf-strip -o build/stripped "build/$target/$file"
            echo "$target stripped $(basename "$file"): $(stat -c %s build/stripped) bytes"
        done
    done
    arm-linux-gnueabihf-strip -o build/stripped build/sysroot-musl/lib/libc++_shared.so
    echo "musl stripped libc++_shared.so (the C++ runtime): $(stat -c %s build/stripped) bytes"
    program=build/default/src/CParameters/CParametersTest
    valgrind --tool=massif --massif-out-file=build/massif.out "$program" >/dev/null 2>&1
    echo "x86-64 test program peak heap: $(grep -o 'mem_heap_B=[0-9]*' build/massif.out | cut -d= -f2 | sort -n | tail -n 1) bytes"
    /usr/bin/time -f "x86-64 test program peak resident: %M KiB" "$program" >/dev/null
    "$CPARAMETERS_MUSL_TOOLCHAIN/bin/arm-linux-musleabihf-gcc" -shared -fPIC -O2 \
        -Wl,--version-script=bench/heap_peak.map bench/heap_peak.c -o build/musl/heap_peak.so
    qemu-arm -L build/sysroot-musl -E LD_PRELOAD="$PWD/build/musl/heap_peak.so" build/musl/src/CParameters/CParametersTest \
        2>&1 >/dev/null | sed -n 's/^heap peak: /musl test program peak heap (qemu-arm, heap_peak.so): /p'
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
