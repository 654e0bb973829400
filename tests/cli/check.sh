# SPDX-License-Identifier: MIT
# check: silent for good files; FILE:LINE:COLUMN: reason for each bad one;
# a file that cannot be read is a system error.
. "$(dirname "$0")/lib.sh"

printf '%s\n' '{"a":1}' >good
printf '{}\n' >empty
printf '{"a":1,\n "b":[1,]}\n' >bad
printf '{"a":1,\n "a":2}\n' >twice
printf '' >nothing
expect 0 "" "" check good empty
expect 1 "" $'bad:2:9: trailing comma\n' check good bad
expect 1 "" $'bad:2:9: trailing comma\ntwice:2:2: duplicate name "a"\nnothing:1:1: unexpected end of text\n' \
    check bad good twice nothing
expect 3 "" $'cparameters: missing: open: No such file or directory\n' check missing good
expect 3 "" $'bad:2:9: trailing comma\ncparameters: missing: open: No such file or directory\n' check bad missing
finish
