# SPDX-License-Identifier: MIT
# export and import, JSON and delimited: what export writes, import reads
# back; a rejected text writes nothing and says where it went wrong.
. "$(dirname "$0")/lib.sh"

printf '%s\n' '{"a":"x y","b":[1,2],"c":null}' >f
expect 0 $'{"a":"x y","b":[1,2],"c":null}\n' "" export f
expect 0 $'a=x y;b=[1,2];c=\n' "" export --delimited = ';' f
expect 0 $'a: x y\nb: [1,2]\nc: \n' "" export --delimited ': ' $'\n' f
expect 0 $'{}\n' "" export missing
expect 0 "" "" export --delimited = ';' missing
printf '{"a":1}x\n' >bad
expect 1 "" $'bad:1:8: text after the root object\n' export bad

# JSON: merged in, other entries stay, types kept; a whole round trip.
printf '%s\n' '{"b":{"k":true},"d":"new"}' >input
input=input expect 0 "" "" import f
same f $'{"a":"x y","b":{"k":true},"c":null,"d":"new"}\n'
"${tool[@]}" export f >input
input=input expect 0 "" "" import copy
cmp -s f copy || fail "export then import did not copy the file"

# Delimited: the values become strings; export's trailing newline is no part
# of the last value.
printf 'a=1;e=2=3\n' >input
input=input expect 0 "" "" import --delimited = ';' f
same f $'{"a":"1","b":{"k":true},"c":null,"d":"new","e":"2=3"}\n'
printf 'p=1\nq=\n' >input
input=input expect 0 "" "" import --delimited = $'\n' f2
same f2 $'{"p":"1","q":""}\n'

cp f before
printf '{"a":2,\n"z":[1,]}' >input
input=input expect 1 "" $'<stdin>:2:8: trailing comma\n' import f
printf 'a=2;z' >input
input=input expect 1 "" $'<stdin>:1:5: entry 2 has no "=" separator\n' import --delimited = ';' f
printf '' >input
input=input expect 1 "" $'<stdin>:1:1: unexpected end of text\n' import f
cmp -s f before || fail "a rejected import changed the file"
input=input expect 1 "" $'<stdin>:1:1: unexpected end of text\n' import new
[ -e new ] && fail "a rejected import created the file"
finish
