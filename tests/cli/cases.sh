# SPDX-License-Identifier: MIT
# bash cases.sh CASEFILE PROGRAM [EMULATOR...]: runs the tool as each case of
# CASEFILE (tests/cases/cli.txt, which says its fields) says, and reports a
# case that fails, or a line that is no case, at CASEFILE:LINE: [section].
cases=$1
exec 3<"$cases" || exit 1
shift
. "$(dirname "$0")/lib.sh"
usage=$("${tool[@]}" --help && echo .)
usage=${usage%.}

# decode FIELD: prints the bytes the field stands for.
decode() {
    local text=${1//\\/\\\\}
    printf %b "${text//%/\\x}"
}

# split SEPARATOR TEXT: the parts of TEXT, empty ones too, in the array parts.
split() {
    local rest=$2
    parts=()
    while [[ $rest == *"$1"* ]]; do
        parts+=("${rest%%"$1"*}")
        rest=${rest#*"$1"}
    done
    parts+=("$rest")
}

# check WHAT FIELD FILE: FILE holds what FIELD says ("-": there is no FILE).
check() {
    local want
    if [ "$2" = - ]; then
        [ ! -e "$3" ] || fail "$where $1 exists, expected none"
        return
    fi
    want=$(decode "$2" && echo .)
    want=${want%.}
    want=${want//<version>/${CPARAMETERS_VERSION-}}
    want=${want//<usage>/"$usage"}
    printf %s "$want" | cmp -s - "$3" || fail "$where $1 differs:
$(printf %s "$want" | diff - "$3" 2>&1)"
}

line=0 count=0 section="" described=""
while IFS= read -r -u 3 row || [ -n "$row" ]; do
    line=$((line + 1))
    if [[ $row == \#* ]]; then
        [ -n "$described" ] && section=${row###}
        [[ $row == *. ]] && described=yes
        continue
    fi
    described=yes
    [ -z "$row" ] && continue
    split $'\t' "$row"
    fields=("${parts[@]}")
    where="$cases:$line: [${section# }] cparameters ${fields[1]}:"
    if [[ ${row//%[[:xdigit:]][[:xdigit:]]/} == *%* ]]; then
        fail "$where malformed case: bad %HH"
        continue
    elif [ "${#fields[@]}" != 7 ]; then
        fail "$where malformed case: wrong number of fields"
        continue
    fi
    rm -rf run && mkdir run && cd run || exit 1
    [ "${fields[0]}" = - ] || decode "${fields[0]}" >f
    args=()
    split ' ' "${fields[1]}"
    for arg in "${parts[@]}"; do
        [ "$arg" = "''" ] && arg=""
        arg=$(decode "$arg" && echo .)
        args+=("${arg%.}")
    done
    [ -z "${fields[1]}" ] && args=()
    decode "${fields[2]}" >../stdin
    "${tool[@]}" "${args[@]}" <../stdin >../stdout 2>../stderr
    status=$?
    [ "$status" = "${fields[3]}" ] || fail "$where exit status $status, expected ${fields[3]}"
    check "standard output" "${fields[4]}" ../stdout
    check "standard error" "${fields[5]}" ../stderr
    [ "${fields[6]}" = = ] && fields[6]=${fields[0]}
    check "the file f" "${fields[6]}" f
    left=$(ls -A | grep -vxE 'f|f\.lock')
    [ -z "$left" ] || fail "$where left behind: $left"
    cd .. || exit 1
    count=$((count + 1))
done
echo "$count cases"
finish
