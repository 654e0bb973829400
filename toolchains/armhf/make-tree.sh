#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Unpacks the armhf Debian tree that arm-linux-gnueabihf.cmake builds against
# into <folder>: the C and C++ libraries, jsoncpp and UnitTest++, only
# unpacked, nothing configured. It comes from this machine's own Debian
# archive without the update archives, whose armhf indexes have been seen
# half-synced. Does nothing when an earlier run completed.
#
# usage: toolchains/armhf/make-tree.sh <folder>
# Needs mmdebstrap; ./build.sh armhf installs it.
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 <folder>" >&2; exit 2; }
. "$(dirname "$0")/../../scripts/debian.sh"
# Absolute: mmdebstrap cannot resolve a relative target whose parent is missing.
mkdir -p "$(dirname "$1")"
tree=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
[ -e "$tree/.complete" ] && exit 0

unpack() {
    rm -rf "$tree"
    mmdebstrap --variant=extract --architectures=armhf \
        --include=libc6-dev,libstdc++-12-dev,libjsoncpp-dev,libunittest++-dev bookworm "$tree" $(debian_mirror)
}
retry unpack
touch "$tree/.complete"
