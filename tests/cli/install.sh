# SPDX-License-Identifier: MIT
# bash install.sh CMAKE BUILD PREFIX BINDIR MANDIR LIBRARY_DIR [EMULATOR...]:
# installs the Runtime component of BUILD into PREFIX and runs the installed
# tool against the built library.
set -eu
cmake=$1 build=$2 prefix=$3 bindir=$4 mandir=$5 libdir=$6
shift 6
rm -rf "$prefix"
"$cmake" --install "$build" --prefix "$prefix" --component Runtime >/dev/null
test -f "$prefix/$mandir/man1/cparameters.1"
version=$(LD_LIBRARY_PATH=$libdir "$@" "$prefix/$bindir/cparameters" --version)
test "$version" = "cparameters $CPARAMETERS_VERSION"
echo "installed: $(cd "$prefix" && find . -type f | sort | tr '\n' ' ')"
