# SPDX-License-Identifier: MIT
# get: a string as its text, anything else as compact JSON; defaults; a
# missing file is an empty store; a bad file is reported, never half-read.
. "$(dirname "$0")/lib.sh"

printf '%s\n' '{"a":"text","b":[1,2.5,{"k":null}],"c":"","d":-5,"e":null,"f":"x\ny"}' >f
expect 0 $'text\n' "" get f a
expect 0 $'[1,2.5,{"k":null}]\n' "" get f b
expect 0 $'\n' "" get f c
expect 0 $'-5\n' "" get f d
expect 0 $'null\n' "" get f e
expect 0 $'x\ny\n' "" get f f
expect 0 $'text\n' "" get f a default
expect 1 "" "" get f absent
expect 0 $'fallback\n' "" get f absent fallback
expect 0 $'-1\n' "" get f absent -1
expect 1 "" "" get missing a
expect 0 $'30\n' "" get missing a 30
expect 0 $'text\n' "" get -- f a

# The name the bad entry follows is there; the reader must still reject it.
printf '%s\n' '{"a":"text","b":[1,]}' >bad
expect 1 "" $'bad:1:20: trailing comma\n' get bad a
expect 1 "" $'bad:1:20: trailing comma\n' get bad a default
printf '{"a":"text"' >cut
expect 1 "" $'cut:1:12: unexpected end of text\n' get cut a
mkdir folder
"${tool[@]}" get folder a >stdout 2>stderr
status=$?
[ "$status" = 3 ] || fail "get folder: exit status $status, expected 3"
grep -q '^cparameters: folder: open: not a regular file but a directory$' stderr || fail "get folder: $(cat stderr)"
[ -s stdout ] && fail "get folder wrote to standard output"
finish
