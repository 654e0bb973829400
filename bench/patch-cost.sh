#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Instructions (callgrind, whole process) of a one-entry change to a file of
# 10,000 entries: `set` of the entry against `patch` with a one-entry merge
# patch and with a one-operation JSON Patch; and of `get NAME` against
# `get --pointer /NAME` and a pointer two levels into a value. Each change
# runs on a fresh copy of the same file.
#
#   bench/patch-cost.sh [PROGRAM]   (default build/default/src/cli/cparameters)
set -euo pipefail
program=$(realpath "${1:-build/default/src/cli/cparameters}")
command -v valgrind >/dev/null || { echo "needs valgrind" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
file=$work/params.json
seq 1 10000 | sed 's/.*/param&=value&/' | "$program" import --delimited = $'\n' "$file"
"$program" set --json "$file" net '{"dns":["a","b"],"mtu":1500}'

# instructions NAME STDIN ARGS...: prints NAME and the instruction count of
# one run of the tool on a fresh copy of the file.
instructions() {
    local name=$1 input=$2
    shift 2
    cp "$file" "$work/run.json"
    local count
    count=$(printf %s "$input" | valgrind --tool=callgrind --callgrind-out-file=/dev/null \
        "$program" "$@" 2>&1 >/dev/null | sed -n 's/.*Collected : //p')
    printf '%-44s %12s\n' "$name" "$count"
}

echo "$("$program" --version), 10,001 entries, $(stat -c %s "$file") bytes; instructions per run"
instructions "set --json FILE param5000 '\"new\"'" "" set --json "$work/run.json" param5000 '"new"'
instructions "patch FILE <<< '{\"param5000\":\"new\"}'" '{"param5000":"new"}' patch "$work/run.json"
instructions "patch --json-patch FILE (one replace)" '[{"op":"replace","path":"/param5000","value":"new"}]' \
    patch --json-patch "$work/run.json"
instructions "set --json FILE net '{...mtu 9000}'" "" set --json "$work/run.json" net '{"dns":["a","b"],"mtu":9000}'
instructions "patch FILE <<< '{\"net\":{\"mtu\":9000}}'" '{"net":{"mtu":9000}}' patch "$work/run.json"
instructions "get FILE param5000" "" get "$work/run.json" param5000
instructions "get --pointer FILE /param5000" "" get --pointer "$work/run.json" /param5000
instructions "get FILE net" "" get "$work/run.json" net
instructions "get --pointer FILE /net/mtu" "" get --pointer "$work/run.json" /net/mtu
