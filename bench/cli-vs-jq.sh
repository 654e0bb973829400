#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# `cparameters get FILE NAME` against `jq -r .NAME FILE` on the same file,
# process start included: rounds alternating a batch of runs of each, so that
# both see the same machine load; prints the mean time per run and the ratio,
# with glibc's default malloc settings and with the settings the other benches
# use. Files of 1,000 and 10,000 entries param<i> = "value<i>", written by the
# tool itself (so in saveJSONFile's form); the name asked for is the middle one.
#
#   bench/cli-vs-jq.sh [PROGRAM [ROUNDS [RUNS]]]   (default build/default/src/cli/cparameters, 20, 25)
set -euo pipefail
program=$(realpath "${1:-build/default/src/cli/cparameters}")
rounds=${2:-20}
runs=${3:-25}
command -v jq >/dev/null || { echo "needs jq (Debian package jq)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Adds the microseconds of $runs runs of "$@", output discarded, to the
# variable named $1.
batch() {
    local -n total=$1
    local start=${EPOCHREALTIME/./} i
    shift
    for ((i = 0; i < runs; ++i)); do
        "$@" >/dev/null
    done
    total=$((total + ${EPOCHREALTIME/./} - start))
}

echo "$(jq --version), $("$program" --version); $rounds rounds of $runs runs each"
for malloc in "" glibc.malloc.mmap_threshold=33554432:glibc.malloc.trim_threshold=4294967295:glibc.malloc.top_pad=67108864; do
    echo "GLIBC_TUNABLES=${malloc:-(glibc defaults)}"
    for entries in 1000 10000; do
        file=$work/params$entries.json
        [ -e "$file" ] || seq 1 "$entries" | sed 's/.*/param&=value&/' |
            "$program" import --delimited = $'\n' "$file"
        name=param$((entries / 2))
        [ "$(jq -r ".$name" "$file")" = "$("$program" get "$file" "$name")" ] || { echo "outputs differ" >&2; exit 1; }
        jq_total=0 tool_total=0
        for ((round = 0; round < rounds; ++round)); do
            GLIBC_TUNABLES=$malloc batch jq_total jq -r ".$name" "$file"
            GLIBC_TUNABLES=$malloc batch tool_total "$program" get "$file" "$name"
        done
        n=$((rounds * runs))
        awk -v e="$entries" -v b="$(stat -c %s "$file")" -v j="$jq_total" -v t="$tool_total" -v n="$n" 'BEGIN {
            printf "%6d entries (%d bytes): jq %.2f ms, cparameters get %.2f ms per run: ratio %.3f\n",
                   e, b, j / n / 1000, t / n / 1000, t / j }'
    done
done
