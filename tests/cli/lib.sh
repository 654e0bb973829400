# SPDX-License-Identifier: MIT
# Shared by the tool's test scripts, which CTest runs as
#   bash SCRIPT PROGRAM [EMULATOR...]
# so that a cross build runs the tool under its emulator. Each script works in
# a fresh folder of its own, removed at the end, and exits with the number of
# failed checks.
set -u
program=$1
shift
tool=("$@" "$program")
work=$(mktemp -d "${TMPDIR:-/tmp}/cparameters-cli.XXXXXX")
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0

fail() {
    echo "FAILED: $*" >&2
    failures=$((failures + 1))
}

# expect STATUS STDOUT STDERR ARGS...: runs the tool with ARGS, standard input
# from the file $input (/dev/null unless set), and compares its exit status
# and both outputs exactly.
expect() {
    local status=$1 out=$2 err=$3 got=0
    shift 3
    "${tool[@]}" "$@" <"${input:-/dev/null}" >stdout 2>stderr || got=$?
    [ "$got" = "$status" ] || fail "cparameters $*: exit status $got, expected $status"
    printf %s "$out" | cmp -s - stdout || fail "cparameters $*: standard output differs:
$(printf %s "$out" | diff - stdout)"
    printf %s "$err" | cmp -s - stderr || fail "cparameters $*: standard error differs:
$(printf %s "$err" | diff - stderr)"
}

# same FILE TEXT: the file holds exactly TEXT.
same() {
    printf %s "$2" | cmp -s - "$1" || fail "$1 holds '$(cat "$1" 2>&1)', expected '$2'"
}

finish() {
    [ "$failures" -eq 0 ] && echo "all checks passed"
    exit "$failures"
}
