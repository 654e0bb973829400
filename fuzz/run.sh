#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs each fuzz target of a libFuzzer build (preset fuzz) for the given
# seconds, from the committed seeds plus what earlier runs in that build
# found; a fault stops the run with its report. ./build.sh fuzz builds and
# calls it.
#
# usage: fuzz/run.sh <build folder> [seconds, default 60]
set -euo pipefail
[ $# -ge 1 ] || { echo "usage: $0 <build folder> [seconds]" >&2; exit 2; }
here=$(dirname "$0")
build=$1
seconds=${2:-60}
for name in deserialise deserialise_json patch schema; do
    corpus=$build/corpus/$name
    log=$build/$name.log
    mkdir -p "$corpus"
    dict=()
    [ "$name" != deserialise ] && dict=(-dict="$here/json.dict")
    if ! "$build/fuzz/fuzz_$name" -max_total_time="$seconds" -print_final_stats=1 "${dict[@]}" \
        "$corpus" "$here/corpus/$name" >"$log" 2>&1; then
        tail -n 40 "$log"
        echo "fuzz $name: FAULT (inputs in $build, log $log)" >&2
        exit 1
    fi
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    coverage=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -n 1)
    echo "fuzz $name: $executions executions in ${seconds} s without a fault; $coverage; corpus $(ls "$corpus" | wc -l) inputs"
done
