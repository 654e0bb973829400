# SPDX-License-Identifier: MIT
# list: "name = value" lines in name order, values as the file holds them;
# results that cannot be written are a system error.
. "$(dirname "$0")/lib.sh"

printf '%s\n' '{"b":[1,{"k":"v"}],"a":"x","c":1.5,"d":null}' >f
expect 0 $'a = "x"\nb = [1,{"k":"v"}]\nc = 1.5\nd = null\n' "" list f
printf '{}\n' >empty
expect 0 "" "" list empty
expect 0 "" "" list missing
printf '{"a":01}\n' >bad
expect 1 "" $'bad:1:6: leading zero\n' list bad
if [ -w /dev/full ]; then
    "${tool[@]}" list f >/dev/full 2>stderr
    status=$?
    [ "$status" = 3 ] || fail "list >/dev/full: exit status $status, expected 3"
    same stderr $'cparameters: standard output: No space left on device\n'
fi
finish
