# SPDX-License-Identifier: MIT
# --help, --version and usage errors: status 2, the usage on standard error,
# nothing on standard output and no file touched.
. "$(dirname "$0")/lib.sh"

"${tool[@]}" --help >usage 2>stderr || fail "--help: exit status $?"
[ -s stderr ] && fail "--help wrote to standard error"
head -n 1 usage | grep -q '^usage: cparameters get FILE NAME \[DEFAULT\]$' || fail "--help: no usage line"
grep -q '^Exit status: 0 done; 1 absent name or rejected text; 2 usage error;$' usage ||
    fail "--help: no exit statuses"
expect 0 "cparameters $CPARAMETERS_VERSION"$'\n' "" --version
expect 0 "$(cat usage)"$'\n' "" set --help

usage=$(cat usage)$'\n'
expect 2 "" "cparameters: no command"$'\n'"$usage"
expect 2 "" "cparameters: unknown command 'frob'"$'\n'"$usage" frob f
expect 2 "" "cparameters: unknown option '--frob'"$'\n'"$usage" --frob get f a
expect 2 "" "cparameters: unknown option '--frob'"$'\n'"$usage" get --frob f a
expect 2 "" "cparameters: --json is an option of set only"$'\n'"$usage" get --json f a
expect 2 "" "cparameters: --delimited is an option of export and import only"$'\n'"$usage" \
    list --delimited = , f
expect 2 "" "cparameters: --delimited takes NAMESEP ENTRYSEP"$'\n'"$usage" export --delimited =
expect 2 "" "cparameters: --delimited takes NAMESEP ENTRYSEP"$'\n'"$usage" export --delimited
expect 2 "" "cparameters: NAMESEP and ENTRYSEP must be two different, non-empty texts"$'\n'"$usage" \
    export --delimited , , f
expect 2 "" "cparameters: NAMESEP and ENTRYSEP must be two different, non-empty texts"$'\n'"$usage" \
    import --delimited "" , f

# Each command with too few or too many operands; none may create f.
expect 2 "" "cparameters: get takes FILE NAME [DEFAULT]"$'\n'"$usage" get f
expect 2 "" "cparameters: get takes FILE NAME [DEFAULT]"$'\n'"$usage" get f a b c
expect 2 "" "cparameters: set takes FILE NAME VALUE [NAME VALUE]..."$'\n'"$usage" set f a
expect 2 "" "cparameters: set takes FILE NAME VALUE [NAME VALUE]..."$'\n'"$usage" set f a 1 b
expect 2 "" "cparameters: remove takes FILE NAME..."$'\n'"$usage" remove f
expect 2 "" "cparameters: list takes FILE"$'\n'"$usage" list
expect 2 "" "cparameters: check takes FILE..."$'\n'"$usage" check
expect 2 "" "cparameters: export takes FILE"$'\n'"$usage" export f g
expect 2 "" "cparameters: import takes FILE"$'\n'"$usage" import
expect 2 "" "cparameters: FILE is empty"$'\n'"$usage" set "" a 1
[ -e f ] || [ -e .lock ] && fail "a usage error created a file"
finish
