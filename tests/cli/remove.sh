# SPDX-License-Identifier: MIT
# remove: one save; each absent name said once on standard error.
. "$(dirname "$0")/lib.sh"

printf '%s\n' '{"a":1,"b":2,"c":3,"d":4}' >f
expect 0 "" "" remove f a c
same f $'{"b":2,"d":4}\n'
expect 1 "" $'cparameters: f: no x\ncparameters: f: no a\n' remove f x b a x b
same f $'{"d":4}\n'
expect 1 "" $'cparameters: f: no x\n' remove f x
same f $'{"d":4}\n'
expect 0 "" "" remove f d
same f $'{}\n'
expect 1 "" $'cparameters: missing: no a\n' remove missing a
[ -e missing ] && fail "remove created a missing file"
finish
