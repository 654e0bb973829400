# SPDX-License-Identifier: MIT
# Sourced by build.sh and the toolchain scripts: installing Debian packages,
# finding the Debian archive this machine uses, and retrying downloads.

# need_packages <package>...: installs those not installed yet, as root with
# apt-get; as another user names them and fails.
need_packages() {
    local missing=() package
    if ! command -v dpkg-query >/dev/null; then
        echo "$(basename "$0"): not a Debian system; install the equivalents of: $*" >&2
        exit 1
    fi
    for package in "$@"; do
        dpkg-query -W -f='${Status}\n' "$package" 2>/dev/null | grep -q '^install ok installed$' ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "$(basename "$0"): missing packages; as root run: apt-get install ${missing[*]}" >&2
        exit 1
    fi
    echo "$(basename "$0"): installing ${missing[*]}"
    apt-get update -q
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# debian_mirror: the Debian archive that the machine's apt sources name
# first, or nothing when they name none.
debian_mirror() {
    local mirror
    mirror=$(sed -n 's/^URIs: *\([^ ]*\).*/\1/p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n 1)
    [ -n "$mirror" ] || mirror=$(sed -n 's/^deb \(\[[^]]*\] \)\{0,1\}\([^ ]*\) bookworm .*/\2/p' \
        /etc/apt/sources.list 2>/dev/null | head -n 1)
    echo "$mirror"
}

# retry <command>...: runs a download up to three times, 20 s apart:
# archives and registries have been seen to fail a request now and then, and
# armhf indexes to be half-synced.
retry() {
    local try
    for try in 1 2 3; do
        "$@" && return 0
        echo "$(basename "$0"): failed (try $try of 3): $*" >&2
        [ $try = 3 ] || sleep 20
    done
    return 1
}
