# SPDX-License-Identifier: MIT
# A save that fails leaves FILE as it was, no temp file behind, and says
# why (exit status 3). As root permission bits do not stop a write, so the
# failure here is a file size limit (RLIMIT_FSIZE) of 0, as on a full disk:
# every write to a file fails with EFBIG once SIGXFSZ is ignored, for root as
# for anyone. Standard error goes through a pipe, which the limit spares.
. "$(dirname "$0")/lib.sh"

mkdir d
printf '{"a":"old"}\n' >d/f
"${tool[@]}" set d/f a old || fail "first set: exit status $?"
said=$( (trap '' XFSZ && exec prlimit --fsize=0 -- "${tool[@]}" set d/f b new) 2>&1)
status=$?
[ "$status" = 3 ] || fail "set without room: exit status $status, expected 3"
[[ $said =~ ^cparameters:\ d/f:\ [a-z]+:\ File\ too\ large$ ]] || fail "failed save said: $said"
same d/f $'{"a":"old"}\n'
[ "$(ls -A d)" = "$(printf 'f\nf.lock')" ] || fail "left behind: $(ls -A d)"

# Where the directory is missing, not even the lock file can be made.
expect 3 "" $'cparameters: nowhere/f.lock: open: No such file or directory\n' set nowhere/f a 1

# A read-only directory stops everyone but root.
if [ "$(id -u)" != 0 ]; then
    chmod a-w d
    "${tool[@]}" set d/f b 2 >stdout 2>stderr
    status=$?
    chmod u+w d
    [ "$status" = 3 ] || fail "set in a read-only directory: exit status $status, expected 3"
    grep -q '^cparameters: d/f: [a-z]*: Permission denied$' stderr || fail "failed save said: $(cat stderr)"
    same d/f $'{"a":"old"}\n'
fi
finish
