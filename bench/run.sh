#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Prints the benchmark table of a Release build of the benchmarks (preset
# bench): median times (Google Benchmark) and instruction counts (callgrind,
# the steady figure on a shared machine). By default with malloc settings
# that keep freed memory in the process, so that a call building a
# multi-megabyte text measures the work rather than the page faults of fresh
# memory; "default-malloc" uses glibc's defaults. ./build.sh bench builds
# and calls it; README.md beside it shows and explains the table.
#
# usage: bench/run.sh <build folder> [default-malloc]
set -euo pipefail
[ $# -ge 1 ] || { echo "usage: $0 <build folder> [default-malloc]" >&2; exit 2; }
build=$1
malloc=glibc.malloc.mmap_threshold=33554432:glibc.malloc.trim_threshold=4294967295:glibc.malloc.top_pad=67108864
[ "${2:-}" = default-malloc ] && malloc=
program=$build/bench/CParametersBench
echo "malloc: ${malloc:-glibc defaults}"
echo "counting instructions under callgrind (about 3 minutes), then timing (about 2 minutes)"
GLIBC_TUNABLES=$malloc valgrind --tool=callgrind --instr-atstart=no --combine-dumps=yes \
    --callgrind-out-file="$build/callgrind.out" "$program" --count 2>"$build/callgrind.log"
GLIBC_TUNABLES=$malloc "$program" "$build/callgrind.out"
# The command-line tool against jq, process start included.
"$(dirname "$0")/cli-vs-jq.sh" "$build/src/cli/cparameters"
# The same with a schema and a defaults file under FILE.
"$(dirname "$0")/layers-vs-jq.sh" "$build/src/cli/cparameters"
