#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# `cparameters get --schema S --defaults D FILE NAME` against jq doing the
# same merge and look-up, `jq -n --arg k NAME '[inputs] | add | .[$k]' D FILE`,
# process start included, side by side under hyperfine (all runs of one,
# then all of the other: on a busy machine read the instruction counts it
# prints too, callgrind's, the same on every run). D holds N entries
# param<i> = "value<i>" (i = 1..N), FILE N entries param<i> = "device<i>"
# (odd i = 1..2N-1), both written by the tool itself (so in saveJSONFile's
# form); NAME is param<N/2>, which only D holds, so that the look-up goes
# through both. S declares one parameter with a default and every other as a
# string of at most 64 characters, so that each value of both files is
# checked.
#
#   bench/layers-vs-jq.sh [PROGRAM [RUNS]]   (default build/default/src/cli/cparameters, 50)
set -euo pipefail
program=$(realpath "${1:-build/default/src/cli/cparameters}")
runs=${2:-50}
for tool in jq hyperfine; do
    command -v $tool >/dev/null || { echo "needs $tool (Debian package $tool)" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
echo '{"type":"object","properties":{"port":{"type":"integer","default":8080}},"additionalProperties":{"type":"string","maxLength":64}}' >S
echo "$(jq --version), $("$program" --version), $(hyperfine --version); $runs runs each"
for entries in 1000 10000; do
    seq 1 "$entries" | sed 's/.*/param&=value&/' | "$program" import --delimited = $'\n' D$entries
    seq 1 2 $((2 * entries)) | sed 's/.*/param&=device&/' | "$program" import --delimited = $'\n' F$entries
    name=param$((entries / 2))
    ours=("$program" get --schema S --defaults D$entries F$entries "$name")
    theirs=(jq -n --arg k "$name" '[inputs] | add | .[$k]' D$entries F$entries)
    [ "\"$("${ours[@]}")\"" = "$("${theirs[@]}")" ] || { echo "outputs differ" >&2; exit 1; }
    hyperfine -N -w 5 -r "$runs" --export-json times$entries.json "${theirs[*]@Q}" "${ours[*]@Q}" >/dev/null 2>&1
    ir() { valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null | sed -n 's/.*refs: *//p' | tr -d ,; }
    irs="-"
    command -v valgrind >/dev/null && irs="$(ir "${theirs[@]}") $(ir "${ours[@]}")"
    jq -r --arg e "$entries" --arg irs "$irs" '.results | map(.mean * 1000) as [$j, $t] |
        ($irs | split(" ")) as $i |
        "\($e) entries each: jq \($j * 100 | round / 100) ms, cparameters get \($t * 100 | round / 100) ms: ratio \($t / $j * 1000 | round / 1000)" +
        (if ($i | length) == 2 then "; instructions \($i[0]) and \($i[1]): ratio \(($i[1] | tonumber) / ($i[0] | tonumber) * 1000 | round / 1000)" else "" end)' times$entries.json
done
