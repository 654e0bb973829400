#!/bin/sh
# SPDX-License-Identifier: MIT
# A device agent: applies each delta that a backend publishes on
# devices/DEVICE/delta to the parameter FILE, once and in order, and publishes
# the state FILE then holds on devices/DEVICE/reported (retained).
#
#   agent.sh FILE [HOST [PORT [DEVICE]]]     (default localhost 1883 device1)
#
# A delta is one line of compact JSON: {"version":N,"state":{...}}, where
# state is a JSON merge patch and N a version that grows with every delta. A
# delta whose version is not above the one FILE holds (a late or repeated
# message) changes nothing; its state is published all the same. A rejected
# delta changes nothing and publishes nothing. CPARAMETERS names the tool
# (default: cparameters on the PATH).
set -u
[ $# -ge 1 ] || { echo "usage: $0 FILE [HOST [PORT [DEVICE]]]" >&2; exit 2; }
file=$1 host=${2:-localhost} port=${3:-1883} device=${4:-device1}
tool=${CPARAMETERS:-cparameters}
delta=$(mktemp) || exit 3
trap 'rm -f "$delta"' EXIT

mosquitto_sub -h "$host" -p "$port" -q 1 -t "devices/$device/delta" | while IFS= read -r message; do
    printf '%s\n' "$message" >"$delta"
    # The tool itself takes the delta apart: no JSON tool needed beside it.
    if ! version=$($tool get --pointer "$delta" /version) || ! state=$($tool get --pointer "$delta" /state); then
        echo "agent: not a delta: $message" >&2
        continue
    fi
    reported=$(printf '%s' "$state" | $tool patch --if-newer "version=$version" --print "$file")
    case $? in
    0 | 4) mosquitto_pub -h "$host" -p "$port" -q 1 -r -t "devices/$device/reported" -m "$reported" ;;
    *) echo "agent: delta $version rejected" >&2 ;;
    esac
done
