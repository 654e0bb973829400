# SPDX-License-Identifier: MIT
# bash cases.sh CASEFILE PROGRAM [EMULATOR...]: runs the tool as each case of
# CASEFILE (tests/cases/cli.txt, which says its fields) says, and reports a
# case that fails, or a line that is no case, at CASEFILE:LINE: [section]. A
# file of fewer than CPARAMETERS_MINIMUM_CASES cases (default 1) fails too:
# an emptied or cut file must not pass.
cases=$1
exec 3<"$cases" || exit 1
casesdir=$(cd "$(dirname "$cases")" && pwd) # <cases> in a field
shift
. "$(dirname "$0")/lib.sh"
set -f # the arguments are split at spaces, never expanded
usage=$("${tool[@]}" --help && echo .)

# decode FIELD: prints the bytes the field stands for.
decode() {
    local text=${1//\\/\\\\}
    printf %b "${text//%/\\x}"
}

# check WHAT FIELD FILE: FILE holds what FIELD says ("-": there is no FILE).
check() {
    if [ "$2" = - ]; then
        [ ! -e "$3" ] || fail "$where $1 exists, expected none"
        return
    fi
    local want
    want=$(decode "$2" && echo .)
    want=${want//<version>/${CPARAMETERS_VERSION-}}
    want=${want//<cases>/$casesdir}
    want=${want//<usage>/"${usage%.}"}
    printf %s "${want%.}" | cmp -s - "$3" || fail "$where $1 differs:
$(printf %s "${want%.}" | diff - "$3" 2>&1)"
}

line=0 count=0 section="" described=""
declare -A files # the files of "@NAME<TAB>CONTENT" lines, for the section's cases
while IFS= read -r -u 3 row || [ -n "$row" ]; do
    line=$((line + 1))
    if [[ $row == \#* ]]; then
        [ -n "$described" ] && section=${row#\#} && files=()
        [[ $row == *. ]] && described=yes
        continue
    fi
    described=yes
    [ -z "$row" ] && continue
    if [[ $row == @* ]]; then
        files[${row%%$'\t'*}]=${row#*$'\t'} && continue
    fi
    mapfile -t fields <<<"${row//$'\t'/$'\n'}"
    where="$cases:$line: [${section# }] cparameters ${fields[1]-}:"
    [ "${#fields[@]}" = 7 ] || { fail "$where malformed case: ${#fields[@]} fields, not 7" && continue; }
    [[ ${row//%[[:xdigit:]][[:xdigit:]]/} != *%* ]] || { fail "$where malformed case: bad %HH" && continue; }
    rm -rf run && mkdir run && cd run || exit 1
    [ "${fields[0]}" = - ] || decode "${fields[0]}" >f
    for name in "${!files[@]}"; do
        decode "${files[$name]}" >"${name#@}"
    done
    args=()
    for arg in ${fields[1]}; do
        [ "$arg" = "''" ] && arg=""
        arg=$(decode "$arg" && echo .)
        arg=${arg//<cases>/$casesdir}
        args+=("${arg%.}")
    done
    environment=() # leading NAME=VALUE arguments: the run's environment
    while [[ ${args[0]-} =~ ^[A-Z_]+= ]]; do
        environment+=("${args[0]}") && args=("${args[@]:1}")
    done
    decode "${fields[2]}" | env "${environment[@]}" "${tool[@]}" "${args[@]}" >../stdout 2>../stderr
    status=$?
    [ "$status" = "${fields[3]}" ] || fail "$where exit status $status, expected ${fields[3]}"
    check "standard output" "${fields[4]}" ../stdout
    check "standard error" "${fields[5]}" ../stderr
    [ "${fields[6]}" = = ] && fields[6]=${fields[0]}
    check "the file f" "${fields[6]}" f
    for name in "${!files[@]}"; do
        check "the file ${name#@}" "${files[$name]}" "${name#@}"
    done
    # A lock file, and the last good version, stay only beside a file that a
    # change saved; the section's files stay.
    left=$(ls -A | grep -vxE "f$([ "${fields[6]}" = "${fields[0]}" ] || echo '|f\.lock|f\.last-good')$(printf '|%s' "${!files[@]}" | sed 's/@//g')")
    [ -z "$left" ] || fail "$where left behind: $left"
    cd .. && count=$((count + 1))
done
echo "$count cases"
minimum=${CPARAMETERS_MINIMUM_CASES:-1}
[ "$count" -ge "$minimum" ] || fail "$cases: $count cases, fewer than the $minimum it holds at least"
finish
