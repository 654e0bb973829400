#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The footprint table of README.md beside it: stripped sizes of the armhf and
# musl builds; the native test program's peak heap (valgrind massif) and peak
# resident memory (GNU time); the musl test program's peak heap under
# qemu-arm, where valgrind does not run, counted by heap_peak.c preloaded.
# ./build.sh footprint makes the three builds and calls it.
#
# usage: bench/footprint.sh <folder holding the default, armhf and musl builds and sysroot-musl>
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 <build folder>" >&2; exit 2; }
build=$(cd "$1" && pwd)
cmake --build "$build/musl" --target heap_peak >/dev/null
for file in src/CParameters/libCParameters.so.0 src/CParameters/CParametersTest src/cli/cparameters; do
    for target in armhf musl; do
        arm-linux-gnueabihf-strip -o "$build/stripped" "$build/$target/$file"
        echo "$target stripped $(basename "$file"): $(stat -c %s "$build/stripped") bytes"
    done
done
arm-linux-gnueabihf-strip -o "$build/stripped" "$build/sysroot-musl/lib/libc++_shared.so"
echo "musl stripped libc++_shared.so (the C++ runtime): $(stat -c %s "$build/stripped") bytes"
program=$build/default/src/CParameters/CParametersTest
valgrind --tool=massif --massif-out-file="$build/massif.out" "$program" >/dev/null 2>&1
echo "x86-64 test program peak heap: $(grep -o 'mem_heap_B=[0-9]*' "$build/massif.out" | cut -d= -f2 | sort -n | tail -n 1) bytes"
/usr/bin/time -f "x86-64 test program peak resident: %M KiB" "$program" >/dev/null
qemu-arm -L "$build/sysroot-musl" -E LD_PRELOAD="$build/musl/bench/heap_peak.so" "$build/musl/src/CParameters/CParametersTest" \
    2>&1 >/dev/null | sed -n 's/^heap peak: /musl test program peak heap (qemu-arm, heap_peak.so): /p'
