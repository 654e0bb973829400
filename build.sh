#!/usr/bin/env bash
# Builds and checks CParameters; see README.md for the subcommands.
# As root on Debian it installs whatever it is missing with apt-get.
set -euo pipefail
cd "$(dirname "$0")"

usage() {
    echo "usage: ./build.sh run|test" >&2
    exit 2
}

# Installs the Debian packages of "$@" that are not installed yet.
need_packages() {
    local missing=() package
    if ! command -v dpkg-query >/dev/null; then
        echo "build.sh: not a Debian system; install the equivalents of: $*" >&2
        exit 1
    fi
    for package in "$@"; do
        dpkg-query -W -f='${Status}\n' "$package" 2>/dev/null | grep -q '^install ok installed$' ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "build.sh: missing packages; as root run: apt-get install ${missing[*]}" >&2
        exit 1
    fi
    echo "build.sh: installing ${missing[*]}"
    apt-get update -q
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

base_packages=(g++ make cmake pkg-config libjsoncpp-dev libunittest++-dev)

# Configures and builds one preset.
build() {
    cmake --preset "$1"
    cmake --build --preset "$1"
}

case "${1:-}" in
run)
    need_packages "${base_packages[@]}"
    build default
    exec build/default/src/CParameters/CParametersTest
    ;;
test)
    need_packages "${base_packages[@]}"
    build default
    ctest --preset default
    ;;
*)
    usage
    ;;
esac
