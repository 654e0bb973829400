#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# bash mqtt-agent.sh PROGRAM [EMULATOR...]: examples/mqtt-agent against Debian's mosquitto
# broker, started here on a free port of 127.0.0.1 (loopback only, every wait
# bounded): deltas sent in order, late and twice, and a rejected one; then the
# file and every state the agent reported are checked. Exits 77 (skipped),
# saying why, where the broker or its clients are missing or cannot start.
set -u
set -m # each background job its own process group, ended by its id
here=$(cd "$(dirname "$0")/../../examples/mqtt-agent" && pwd)
program=$1
shift
export CPARAMETERS="$* $program" # the emulator first, as tests/cli/lib.sh runs it
skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*"; failed=1; }
for program in mosquitto mosquitto_sub mosquitto_pub; do
    command -v "$program" >/dev/null || PATH=$PATH:/usr/sbin command -v "$program" >/dev/null ||
        skip "$program not installed (Debian packages mosquitto and mosquitto-clients)"
done
broker_program=$(PATH=$PATH:/usr/sbin command -v mosquitto)

work=$(mktemp -d)
jobs_started=()
cleanup() {
    for pid in "${jobs_started[@]}"; do
        kill -- "-$pid" 2>/dev/null
    done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
cd "$work" || exit 1

# The broker on a port nobody uses: a port that is taken makes it exit.
port=
for attempt in 1 2 3 4 5; do
    candidate=$((20000 + RANDOM % 40000))
    printf 'listener %s 127.0.0.1\nallow_anonymous true\npersistence false\n' "$candidate" >broker.conf
    "$broker_program" -c broker.conf >>broker.log 2>&1 &
    broker=$!
    for _ in $(seq 50); do
        kill -0 "$broker" 2>/dev/null || break
        if timeout 5 mosquitto_pub -h 127.0.0.1 -p "$candidate" -t probe -m up 2>/dev/null; then
            kill -0 "$broker" 2>/dev/null && port=$candidate
            break
        fi
        sleep 0.1
    done
    [ -n "$port" ] && break
    kill -- "-$broker" 2>/dev/null
    wait "$broker" 2>/dev/null
done
[ -n "$port" ] || skip "the mosquitto broker did not start on 127.0.0.1: $(tail -n 2 broker.log | tr '\n' ' ')"
jobs_started+=("$broker")

pub() { timeout 10 mosquitto_pub -h 127.0.0.1 -p "$port" -q 1 -t devices/d1/delta -m "$1"; }
# waits until the file holds the text, for 20 s at most
await() {
    for _ in $(seq 200); do
        grep -qF "$1" device.json 2>/dev/null && return 0
        sleep 0.1
    done
    fail "the agent did not apply $1 in 20 s; the file holds $(cat device.json 2>&1)"
    exit 1
}

$CPARAMETERS set device.json host example.org || exit 1
# Every state the agent reports, in order.
timeout 120 mosquitto_sub -h 127.0.0.1 -p "$port" -q 1 -t devices/d1/reported -t devices/d1/ping >reported.txt &
jobs_started+=("$!")
for _ in $(seq 100); do
    pub ping >/dev/null 2>&1
    timeout 5 mosquitto_pub -h 127.0.0.1 -p "$port" -q 1 -t devices/d1/ping -m ping
    grep -q ping reported.txt && break
    sleep 0.1
done
grep -q ping reported.txt || { fail "the recorder did not subscribe in 10 s"; exit 1; }
timeout 120 "$here/agent.sh" device.json 127.0.0.1 "$port" d1 2>agent.err &
jobs_started+=("$!")
# Until the agent has subscribed, deltas are lost: version 1, repeated.
for _ in $(seq 100); do
    pub '{"version":1,"state":{"net":{"mtu":1500}}}'
    grep -qF '"version":1' device.json && break
    sleep 0.1
done
await '"version":1'

pub '{"version":3,"state":{"net":{"mtu":9000},"debug":true}}'
pub '{"version":2,"state":{"net":{"mtu":1},"old":true}}'           # late
pub '{"version":3,"state":{"net":{"mtu":9000},"debug":true}}'      # twice
pub '{"version":5,"state":{"debug":null,"net":{"dns":["a"]}}}'
pub '{"version":4,"state":{"debug":"late"}}'                       # late
pub '{"version":6,"state":["x"]}'                                  # rejected by patch
pub '{"version":6,"state":{"x":1,"x":2}}'                          # no JSON
pub 'not json'
pub '{"version":7,"state":{"done":true}}'
await '"version":7'

expected='{"done":true,"host":"example.org","net":{"dns":["a"],"mtu":9000},"version":7}'
[ "$(cat device.json)" = "$expected" ] || fail "the file holds $(cat device.json), expected $expected"
# The states reported after the first delta, repeats collapsed: each newer
# delta's state once, and none that a late or rejected delta would have made.
states=$(grep -v '^ping$' reported.txt | uniq | tr '\n' ' ')
want='{"host":"example.org","net":{"mtu":1500},"version":1} '
want+='{"debug":true,"host":"example.org","net":{"mtu":9000},"version":3} '
want+='{"host":"example.org","net":{"dns":["a"],"mtu":9000},"version":5} '
want+="$expected "
[ "$states" = "$want" ] || fail "reported states: $states
expected: $want"
retained=$(timeout 10 mosquitto_sub -h 127.0.0.1 -p "$port" -t devices/d1/reported -C 1 -W 5)
[ "$retained" = "$expected" ] || fail "the retained reported state is $retained, expected $expected"
grep -q "delta 6 rejected" agent.err || fail "the agent did not report the rejected delta: $(cat agent.err)"
grep -q 'not a delta: {"version":6,"state":{"x":1,"x":2}}' agent.err && grep -q "not a delta: not json" agent.err ||
    fail "the agent did not report the messages that are no JSON"
[ -z "${failed-}" ] || exit 1
echo "mqtt agent: 10 deltas on port $port, file and reported states as expected"
