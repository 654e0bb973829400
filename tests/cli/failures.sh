# SPDX-License-Identifier: MIT
# Failures outside the tool's control. A save that fails leaves FILE as it
# was, no temp file behind, and says why (exit status 3). As root permission
# bits do not stop a write, so the failure here is a file size limit
# (RLIMIT_FSIZE) of 0, as on a full disk: every write to a file fails with
# EFBIG once SIGXFSZ is ignored, for root as for anyone. Standard error goes
# through a pipe, which the limit spares.
. "$(dirname "$0")/lib.sh"

mkdir d
printf '{"a":"old"}\n' >old
cp old d/f
"${tool[@]}" set d/f a old || fail "first set: exit status $?"
said=$( (trap '' XFSZ && exec prlimit --fsize=0 -- "${tool[@]}" set d/f b new) 2>&1)
status=$?
[ "$status" = 3 ] || fail "set without room: exit status $status, expected 3"
[[ $said =~ ^cparameters:\ d/f:\ [a-z]+:\ File\ too\ large$ ]] || fail "failed save said: $said"
cmp -s old d/f || fail "a failed save changed the file: $(cat d/f)"
[ "$(ls -A d)" = "$(printf 'f\nf.lock')" ] || fail "left behind: $(ls -A d)"

# A read-only directory stops everyone but root.
if [ "$(id -u)" != 0 ]; then
    chmod a-w d
    said=$("${tool[@]}" set d/f b 2 2>&1)
    status=$?
    chmod u+w d
    [ "$status" = 3 ] || fail "set in a read-only directory: exit status $status, expected 3"
    [[ $said =~ ^cparameters:\ d/f:\ [a-z]+:\ Permission\ denied$ ]] || fail "failed save said: $said"
    cmp -s old d/f || fail "a failed save changed the file: $(cat d/f)"
fi

# Results that cannot be written are a system error.
if [ -w /dev/full ]; then
    said=$("${tool[@]}" list d/f 2>&1 >/dev/full)
    status=$?
    [ "$status" = 3 ] || fail "list >/dev/full: exit status $status, expected 3"
    [ "$said" = "cparameters: standard output: No space left on device" ] || fail "list >/dev/full said: $said"
fi
finish
