# SPDX-License-Identifier: MIT
# Shared by the tool's test scripts, which CTest runs as
#   bash SCRIPT [CASEFILE] PROGRAM [EMULATOR...]
# so that a cross build runs the tool under its emulator. Each script works in
# a fresh folder of its own, removed at the end, and ends with `finish`.
set -u
program=$1
shift
tool=("$@" "$program")
work=$(mktemp -d "${TMPDIR:-/tmp}/cparameters-cli.XXXXXX")
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0

fail() {
    echo "$*" >&2
    failures=$((failures + 1))
}

# skip REASON: a check this run cannot make. The script then ends as skipped
# (exit status 77, which CTest reports as a skip), unless a check failed.
skipped=""
skip() {
    skipped+="skipped: $*"$'\n'
}

finish() {
    printf %s "$skipped"
    exit $((failures != 0 ? 1 : ${#skipped} != 0 ? 77 : 0))
}
