# SPDX-License-Identifier: MIT
# The target build: 32-bit ARM (hard float) with the musl C library, using
# the user's own arm-linux-musleabihf toolchain.
#
#   -DCPARAMETERS_MUSL_TOOLCHAIN=<folder holding bin/arm-linux-musleabihf-g++>
#   -DCPARAMETERS_SYSROOT=<target tree with jsoncpp and UnitTest++ built for musl>
#                          (default: the toolchain's own arm-linux-musleabihf folder)
#
# Tests run under qemu-arm when it is installed. pkg-config reads the tree's
# usr/lib/pkgconfig unless PKG_CONFIG_LIBDIR says otherwise.

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(CPARAMETERS_MUSL_TOOLCHAIN "" CACHE PATH "Root of the arm-linux-musleabihf toolchain")
set(CPARAMETERS_SYSROOT "" CACHE PATH "Target tree; empty means the toolchain's own")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES CPARAMETERS_MUSL_TOOLCHAIN CPARAMETERS_SYSROOT)

set(_triple arm-linux-musleabihf)
if(NOT EXISTS "${CPARAMETERS_MUSL_TOOLCHAIN}/bin/${_triple}-g++")
  message(FATAL_ERROR "CPARAMETERS_MUSL_TOOLCHAIN must hold bin/${_triple}-g++ "
                      "(got '${CPARAMETERS_MUSL_TOOLCHAIN}')")
endif()
set(CMAKE_C_COMPILER "${CPARAMETERS_MUSL_TOOLCHAIN}/bin/${_triple}-gcc")
set(CMAKE_CXX_COMPILER "${CPARAMETERS_MUSL_TOOLCHAIN}/bin/${_triple}-g++")

# Thumb-2 code, as Debian's armhf compiler makes by default: about a third
# smaller than A32 code for the same source, which the size budget of the
# target needs (toolchains/musl/README.md has the figures).
string(APPEND CMAKE_C_FLAGS_INIT " -mthumb")
string(APPEND CMAKE_CXX_FLAGS_INIT " -mthumb")
# Only the GNU symbol hash, which musl's loader reads: the older SysV table
# beside it would be about 2 KB more of the library for no loader here.
string(APPEND CMAKE_SHARED_LINKER_FLAGS_INIT " -Wl,--hash-style=gnu")
string(APPEND CMAKE_EXE_LINKER_FLAGS_INIT " -Wl,--hash-style=gnu")

set(_sysroot "${CPARAMETERS_SYSROOT}")
if(NOT _sysroot)
  set(_sysroot "${CPARAMETERS_MUSL_TOOLCHAIN}/${_triple}")
endif()
set(CMAKE_SYSROOT "${_sysroot}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${_sysroot}")
if(NOT DEFINED ENV{PKG_CONFIG_LIBDIR})
  set(ENV{PKG_CONFIG_LIBDIR} "${_sysroot}/usr/lib/pkgconfig:${_sysroot}/usr/share/pkgconfig:${_sysroot}/lib/pkgconfig")
endif()

find_program(_qemu_arm qemu-arm)
if(_qemu_arm)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${_qemu_arm}" -L "${_sysroot}")
endif()
