# SPDX-License-Identifier: MIT
# Concurrent changes: 50 sets started at once, each with its own name, all
# land; readers beside them always read a whole file and never wait for the
# lock.
. "$(dirname "$0")/lib.sh"

printf '{"name0":"0"}\n' >f
(while [ ! -e done ]; do "${tool[@]}" check f || echo "check: exit status $?"; done) >>faults.log 2>&1 &
reader=$!
writers=()
for i in $(seq 50); do
    ("${tool[@]}" set f "name$i" "$i" || echo "set: exit status $?") >>faults.log 2>&1 &
    writers+=($!)
done
wait "${writers[@]}"
touch done
wait "$reader"
[ -s faults.log ] && fail "$(head -n 3 faults.log)"
[ "$("${tool[@]}" list f)" = "$(for i in $(seq 0 50); do echo "name$i = \"$i\""; done | LC_ALL=C sort)" ] ||
    fail "not every set landed: $("${tool[@]}" list f)"

# While another process holds FILE.lock, a set waits and a get does not. The
# set is waiting once the kernel lists its process as blocked on a lock ("->"
# in /proc/locks); a set that ends first did not wait. The holder takes the
# lock itself and lives as long as it holds it (until the file "locked"
# goes): in a PID namespace (a package build's chroot or container)
# /proc/locks hides a lock whose taker has ended, and the requests waiting
# for it with it. It is perl (Debian's perl-base, always installed) because
# flock(1) opens FILE.lock for reading, which its mode (write only) refuses.
perl -e 'use Fcntl qw(:flock); open(my $lock, ">>", "f.lock") or die "f.lock: $!\n";
    flock($lock, LOCK_EX) or die "flock: $!\n"; open(my $mark, ">", "locked") or die "locked: $!\n"; close($mark);
    for (1 .. 600) { last unless -e "locked"; select(undef, undef, undef, 0.1) }' &
holder=$!
for _ in $(seq 100); do [ -e locked ] && break; sleep 0.1; done
[ -e locked ] || fail "the lock's holder did not start"
"${tool[@]}" set f held 1 &
writer=$!
if [ -r /proc/locks ]; then
    waited=
    for _ in $(seq 300); do
        grep -qE -- "-> FLOCK +ADVISORY +WRITE +$writer " /proc/locks && waited=1 && break
        kill -0 "$writer" 2>/dev/null || break
        sleep 0.1
    done
    [ -n "$waited" ] || fail "set was not seen waiting for the lock: $(cat /proc/locks)"
else
    skip "no /proc/locks here to see a set wait for the lock"
fi
[ "$("${tool[@]}" get f held; echo "exit status $?")" = "exit status 1" ] || fail "get under the lock did not say absent"
rm -f locked
wait "$holder" || fail "the lock's holder: exit status $?"
wait "$writer" || fail "set after the lock: exit status $?"
[ "$("${tool[@]}" get f held)" = 1 ] || fail "the set that waited did not land"

# The lock file lies beside the file a symbolic link leads to, even before
# that file exists (a link from a read-only folder to a data partition).
mkdir data
ln -s data/g g
"${tool[@]}" set g a 1
[ -e data/g.lock ] && [ ! -e g.lock ] || fail "lock files: $(ls -A data) $(ls -A)"
finish
