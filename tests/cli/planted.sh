# SPDX-License-Identifier: MIT
# What a less trusted user can plant where the tool works (links, FIFOs and
# devices at FILE or FILE.lock, loops), what the tool must bear (long names,
# closed pipes, no memory), and what root's changes must keep (owners, a lock
# that readers cannot hold). The parts that need root (chown, mknod, another
# user) are skipped when run as anyone else.
. "$(dirname "$0")/lib.sh"
chmod 755 "$work"

# refused EXPECTED COMMAND...: the command ends with status 3 at once, its
# message ends in what the pattern EXPECTED matches, and the folder holds
# what it held before.
refused() {
    local expected=$1 before said
    shift
    before=$(ls -A)
    said=$(timeout 20 "$@" 2>&1; echo "exit status $?")
    [[ $said == *$expected$'\nexit status 3' ]] || fail "$*: $said"
    [ "$(ls -A)" = "$before" ] || fail "$*: left $(ls -A)"
}

# A link, a FIFO or a device at FILE.lock is never opened or followed: no
# file made where the link leads, no wait for a FIFO's reader.
printf '{}\n' >f
ln -s victim f.lock
refused "open: f.lock: not a regular file but a symbolic link" "${tool[@]}" set f a 1
[ ! -e victim ] || fail "set followed f.lock to victim"
rm f.lock && mkfifo f.lock
refused "open: f.lock: not a regular file but a FIFO" "${tool[@]}" set f a 1
rm f.lock

# Nothing but a regular file is opened to read: a writer waiting on a FIFO
# would be let through by an open.
mkfifo fifo
(exec 3>fifo && touch opened) &
writer=$!
refused "fifo: open: not a regular file but a FIFO" "${tool[@]}" get fifo a
sleep 1
[ ! -e opened ] || fail "get opened the FIFO"
exec 7<>fifo && wait "$writer"; exec 7<&- && rm -f opened fifo

# A loop stops before any lock file is made (folders: in cli.txt).
ln -s loop loop
# (ELOOP's text is the C library's own.)
refused "loop: open: *" "${tool[@]}" set loop a 1
rm loop

# Names up to NAME_MAX are saved and locked: 255 bytes and 240 (the lock
# name fits, the temp name does not).
for length in 255 240; do
    mkdir long && name=long/$(printf "%${length}s" | tr ' ' n)
    "${tool[@]}" set "$name" a "$length" && [ "$("${tool[@]}" get "$name" a)" = "$length" ] ||
        fail "a name of $length bytes was not saved"
    rm -r long
done

# Results written to a pipe nobody reads: a system error, not SIGPIPE.
mkfifo pipe && exec 7<>pipe 8>pipe 7<&- && rm pipe
said=$("${tool[@]}" export f 2>&1 >&8; echo "exit status $?")
exec 8>&-
[ "$said" = $'cparameters: standard output: Broken pipe\nexit status 3' ] || fail "export into a closed pipe: $said"

# Running out of memory is a system error, the file untouched. The limit is
# on address space, which an emulator and the sanitizers reserve for
# themselves: natively only.
if [ "${#tool[@]}" -eq 1 ] && [ -z "${CPARAMETERS_SANITIZE-}" ]; then
    awk 'BEGIN { printf "{"; for (i = 0; i < 200000; i++) printf "%s\"name%d\":\"value of some length %d\"", i ? "," : "", i, i; print "}" }' >big
    cp big before
    said=$(ulimit -v 30000 && "${tool[@]}" set big a 1 2>&1; echo "exit status $?")
    [ "$said" = $'cparameters: out of memory\nexit status 3' ] && cmp -s big before && [ ! -e big.lock ] ||
        fail "set out of memory: $said"
    rm big before
else
    skip "out of memory: the address space limit would bind the emulator or the sanitizers"
fi

if [ "$(id -u)" != 0 ]; then
    skip "owners, devices and other users: they need root"
    finish
fi
user=65534
as_user() { setpriv --reuid=$user --regid=$user --clear-groups "$@"; }

# A device at FILE.lock is refused before it is opened.
if mknod f.lock c 1 3 2>/dev/null; then
    refused "open: f.lock: not a regular file but a device" "${tool[@]}" set f a 1
    rm f.lock
else
    skip "no device nodes can be made here (mknod), so none at FILE.lock"
fi

# Root's set keeps a service's file its own; the lock file takes the file's
# owner and its write bits only, so that a reader cannot hold it, and an old
# lock file readable by all is brought in line.
mkdir data && printf '{}\n' >data/svc && chown $user:$user data data/svc && chmod 600 data/svc
touch data/svc.lock && chmod 644 data/svc.lock
"${tool[@]}" set data/svc a 1 || fail "set of the service's file failed"
[ "$(stat -c '%u:%g %a' data/svc data/svc.lock | tr '\n' ' ')" = "$user:$user 600 $user:$user 200 " ] ||
    fail "owners and modes: $(stat -c '%n %u:%g %a' data/svc data/svc.lock)"
if ! as_user "${tool[@]}" --version >/dev/null 2>&1; then
    skip "user $user cannot run the tool from here: a folder on its path is closed to others"
elif ! as_user "${tool[@]}" set data/svc b 2 || [ "$(as_user "${tool[@]}" get data/svc a)" != 1 ]; then
    fail "the service cannot change its file"
fi
chmod 644 f && "${tool[@]}" set f a 1 && [ "$(stat -c %a f.lock)" = 200 ] || fail "f.lock: $(stat -c %a f.lock)"
as_user flock -n f.lock true 2>/dev/null && fail "a reader took f.lock"

# A link in a sticky folder anyone may write is followed only when it is the
# caller's or the folder's owner's, as the kernel's fs.protected_symlinks has
# it, whatever that setting says; a missing target is then not made.
mkdir -m 1777 shared && chown $user shared
ln -s ../secret shared/theirs && chown -h 1234 shared/theirs
refused "shared/theirs: open: Permission denied" "${tool[@]}" set shared/theirs a 1
refused "shared/theirs: open: Permission denied" "${tool[@]}" get shared/theirs a
[ ! -e secret ] || fail "a link of another user's was followed"
ln -s ../owners shared/owners && chown -h $user shared/owners
ln -s ../mine shared/mine
"${tool[@]}" set shared/owners a 1 && "${tool[@]}" set shared/mine a 1 && [ -e owners ] && [ -e mine ] ||
    fail "links of the caller and the folder's owner were not followed"
finish
