# SPDX-License-Identifier: MIT
# set: every pair in one save, creating the file; --json values keep their
# type; a rejected value writes nothing.
. "$(dirname "$0")/lib.sh"

expect 0 "" "" set f b "two words" a 1
same f $'{"a":"1","b":"two words"}\n'
expect 0 "" "" set f a -5 c ""
same f $'{"a":"-5","b":"two words","c":""}\n'
expect 0 "" "" set --json f a '-5' b ' [1, 2.50, {"k": null}] ' c '"q\"u"' d true e null
same f $'{"a":-5,"b":[1,2.5,{"k":null}],"c":"q\\"u","d":true,"e":null}\n'
expect 0 "" "" --json set f a '{}'
same f $'{"a":{},"b":[1,2.5,{"k":null}],"c":"q\\"u","d":true,"e":null}\n'

# A rejected value, wherever it stands among the pairs, leaves the file as
# it was; positions are the value's own.
cp f before
expect 1 "" $'cparameters: value of b: line 1, column 4: trailing comma\n' set --json f a 1 b '[1,]'
expect 1 "" $'cparameters: value of a: line 1, column 1: expected a value\n' set --json f a text
expect 1 "" $'cparameters: value of a: line 1, column 1: expected a value\n' set --json f a ''
expect 1 "" $'cparameters: value of a: line 2, column 1: comment\n' set --json f a $'1\n//'
expect 1 "" $'cparameters: value of a: not one JSON value\n' set --json f a '1,"x":2'
expect 1 "" $'cparameters: value of a: line 1, column 3: duplicate name ""\n' set --json f a '1,"":2'
cmp -s f before || fail "a rejected value changed the file"
expect 1 "" $'cparameters: value of a: line 1, column 1: leading zero\n' set --json new a 01
[ -e new ] && fail "a rejected value created the file"

# A bad file is not overwritten.
printf '{"a":1,}\n' >bad
expect 1 "" $'bad:1:8: trailing comma\n' set bad b 2
same bad $'{"a":1,}\n'
finish
