# SPDX-License-Identifier: MIT
# Failures outside the tool's control: a save that fails leaves FILE as it
# was, no temp file and no lock file behind, and says why (exit status 3);
# results that cannot be written are a system error too.
. "$(dirname "$0")/lib.sh"

# save_fails REASON COMMAND...: COMMAND, a set of d/f, fails for REASON (on
# d/f, or on the lock or temp file the message then names).
save_fails() {
    local reason=$1 said
    shift
    said=$("$@" 2>&1; echo "exit status $?")
    chmod u+w d
    [[ $said =~ ^cparameters:\ d/f:\ [a-z]+:\ (d/[^:]+:\ )?$reason$'\n'exit\ status\ 3$ ]] || fail "a failed save said: $said"
    cmp -s old d/f && [ "$(ls -A d)" = f ] || fail "a failed save left $(ls -A d): $(cat d/f)"
}

mkdir d
printf '{"a":"old"}\n' >old && cp old d/f
# As root permission bits do not stop a write, so the failure here is a file
# size limit (RLIMIT_FSIZE) of 0, as on a full disk: every write to a file
# fails with EFBIG once SIGXFSZ is ignored, for root as for anyone. Standard
# error goes through a pipe, which the limit spares.
trap '' XFSZ
save_fails "File too large" prlimit --fsize=0 -- "${tool[@]}" set d/f b new
# A read-only directory stops everyone, root too once it has dropped the
# capabilities that override permission bits (as CI's root does here), which
# a file made there first shows.
as_user=()
[ "$(id -u)" != 0 ] || as_user=(setpriv --inh-caps=-all --bounding-set=-dac_override,-dac_read_search,-fowner --)
chmod a-w d
if "${as_user[@]}" bash -c ': >d/probe' 2>/dev/null; then
    rm d/probe
    chmod u+w d
    skip "root cannot drop CAP_DAC_OVERRIDE here (setpriv), so a read-only folder does not stop it"
else
    save_fails "Permission denied" "${as_user[@]}" "${tool[@]}" set d/f b 2
fi

if [ -w /dev/full ]; then
    said=$("${tool[@]}" list d/f 2>&1 >/dev/full; echo "exit status $?")
    [ "$said" = $'cparameters: standard output: No space left on device\nexit status 3' ] || fail "list >/dev/full: $said"
else
    skip "no /dev/full here to fail a write of the tool's output"
fi
finish
