#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds and checks the Debian packages the way a distribution would, each
# step in a fresh Debian 12 chroot made from one base tarball per run:
#   1. build: dpkg-buildpackage -us -uc -b with the tests run, as a user
#      other than root; lintian --pedantic must report no error or warning;
#   2. minimal: only g++, cmake, make, pkg-config and libjsoncpp-dev:
#      add_subdirectory and FetchContent users, then the nocheck build
#      (DEB_BUILD_PROFILES and DEB_BUILD_OPTIONS nocheck), which configures,
#      builds and installs the library alone, without libunittest++-dev (the
#      install tests check an install tree's files in every build);
#   3. installed: the packages of step 1 installed; the autopkgtest
#      debian/tests/consumer builds a user's program with
#      find_package(CParameters) and with pkg-config, runs it, compiles each
#      public header alone, and runs the tool.
# Run as root on Debian (mmdebstrap and chroot need it). Work and results in
# build/deb/ (the packages in build/deb/out/). Each step prints its time.
#   CPARAMETERS_DEB_MIRROR   the Debian mirror (default: this machine's first)
#   CPARAMETERS_DEB_ARCH     the Debian architecture to build for, one this
#                            machine runs natively (default: its own; i386 on
#                            amd64 runs with a 32-bit personality, as Debian's
#                            build daemons do)
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
work=$top/build/deb
suite=bookworm
arch=${CPARAMETERS_DEB_ARCH:-$(dpkg --print-architecture)}
personality=()
[ "$arch" != i386 ] || personality=(linux32)

mirror=${CPARAMETERS_DEB_MIRROR:-}
if [ -z "$mirror" ]; then
    mirror=$(sed -n 's/^URIs: *\([^ ]*\).*/\1/p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n 1)
    [ -n "$mirror" ] || mirror=$(sed -n 's/^deb \(\[[^]]*\] \)\{0,1\}\([^ ]*\) bookworm .*/\2/p' \
        /etc/apt/sources.list 2>/dev/null | head -n 1)
    [ -n "$mirror" ] || mirror=http://deb.debian.org/debian
fi

step_start=0
step() {
    [ "$step_start" -eq 0 ] || echo "deb: ... took $(($(date +%s) - step_start)) s"
    step_start=$(date +%s)
    [ $# -eq 0 ] || echo "deb: $*"
}

# A fresh chroot in $work/$1 from the base tarball.
new_root() {
    rm -rf "${work:?}/$1"
    mkdir -p "$work/$1"
    tar -C "$work/$1" -xf "$work/base.tar"
    cp /etc/resolv.conf "$work/$1/etc/resolv.conf"
}

# Runs a shell script (standard input) in chroot $1 as root, in private mount
# and process namespaces, so that the mounts end with it: /proc, /dev, and
# the run's package cache, shared by the chroots of one run. The script runs
# from a file, with nothing on its standard input.
in_root() {
    local root=$work/$1
    cat >"$root/tmp/step.sh"
    unshare --mount --pid --fork --propagation private /bin/sh -euc '
        root=$1
        mount -t proc proc "$root/proc"
        mount --rbind /dev "$root/dev"
        mount --bind "$2" "$root/var/cache/apt/archives"
        shift 2
        exec "$@" chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LC_ALL=C.UTF-8 \
            DEBIAN_FRONTEND=noninteractive /bin/bash -euxo pipefail /tmp/step.sh' sh "$root" "$work/archives" "${personality[@]}" </dev/null
}

# The source tree, as committed or not, without build trees or Git's data.
copy_source() {
    mkdir -p "$work/$1/src/cparameters"
    tar -C "$top" --exclude=./build --exclude=./.git --exclude='./obj-*' -cf - . | tar -C "$work/$1/src/cparameters" -xf -
}

apt_install='apt-get install -y -q --no-install-recommends'

rm -rf "${work:?}"
mkdir -p "$work/out" "$work/archives/partial"
run_start=$(date +%s)

step "base tarball (mmdebstrap $suite $arch from $mirror)"
mmdebstrap --quiet --variant=apt --architectures="$arch" "$suite" "$work/base.tar" "$mirror"

step "1. package build with the tests, in a fresh chroot"
new_root build
copy_source build
in_root build <<EOS
apt-get update -q
$apt_install build-essential
apt-get build-dep -y -q --no-install-recommends /src/cparameters
useradd --create-home builder
chown -R builder: /src
cd /src/cparameters
runuser -u builder -- env HOME=/home/builder DEB_BUILD_OPTIONS=parallel=$(nproc) dpkg-buildpackage -us -uc -b
EOS
cp "$work"/build/src/*.deb "$work"/build/src/*.changes "$work"/build/src/*.buildinfo "$work/out/"

step "lintian --pedantic"
lintian --pedantic --display-info --display-experimental --fail-on error,warning "$work"/out/*.changes | tee "$work/lintian.txt"
echo "lintian: $(grep -c '^[EW]:' "$work/lintian.txt" || true) errors and warnings, $(wc -l <"$work/lintian.txt") lines"

step "2. subproject users and the nocheck build: fresh chroot without UnitTest++"
new_root minimal
copy_source minimal
in_root minimal <<EOS
apt-get update -q
$apt_install g++ cmake make pkg-config libjsoncpp-dev
! dpkg -s libunittest++-dev >/dev/null 2>&1
cd /src/cparameters
for mode in subdirectory fetchcontent; do
    cmake -DMODE=\$mode -DWORK_DIR=/tmp/\$mode -DPROJECT_SOURCE=/src/cparameters \
        -DSOURCE_DIR=/src/cparameters/tests/install/consumer -DCXX=/usr/bin/g++ -P tests/install/Consumer.cmake
done
$apt_install build-essential
apt-get build-dep -y -q --no-install-recommends -P nocheck /src/cparameters
! dpkg -s libunittest++-dev >/dev/null 2>&1
useradd --create-home builder
chown -R builder: /src
runuser -u builder -- env HOME=/home/builder DEB_BUILD_PROFILES=nocheck DEB_BUILD_OPTIONS="nocheck parallel=$(nproc)" \\
    dpkg-buildpackage -us -uc -b
EOS

step "3. the packages installed in a fresh chroot: a user's program and the tool (debian/tests/consumer)"
new_root installed
copy_source installed
mkdir -p "$work/installed/tmp/debs"
cp "$work"/out/*.deb "$work/installed/tmp/debs/"
in_root installed <<'EOS'
apt-get update -q
apt-get install -y -q --no-install-recommends g++ make cmake pkg-config /tmp/debs/*.deb
cd /src/cparameters
AUTOPKGTEST_TMP=$(mktemp -d) debian/tests/consumer
EOS
step
echo "deb: packages in build/deb/out: $(cd "$work/out" && echo *.deb)"
echo "deb: all steps passed in $(($(date +%s) - run_start)) s"
