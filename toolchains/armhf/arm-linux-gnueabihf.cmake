# SPDX-License-Identifier: MIT
# Cross build for 32-bit ARM (hard float, glibc) with Debian's
# crossbuild-essential-armhf against an armhf Debian tree, tests run under
# qemu-user. ./build.sh armhf makes the tree and passes it in.
#
#   -DCPARAMETERS_SYSROOT=<armhf tree>   (required)

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(CPARAMETERS_SYSROOT "" CACHE PATH "Root of the armhf Debian tree to build against")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES CPARAMETERS_SYSROOT)
if(NOT IS_DIRECTORY "${CPARAMETERS_SYSROOT}")
  message(FATAL_ERROR "CPARAMETERS_SYSROOT must name the armhf tree (got '${CPARAMETERS_SYSROOT}')")
endif()

set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_SYSROOT "${CPARAMETERS_SYSROOT}")
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L "${CPARAMETERS_SYSROOT}")

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config must read the tree's .pc files, not the build machine's.
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${CPARAMETERS_SYSROOT}")
set(ENV{PKG_CONFIG_LIBDIR} "${CPARAMETERS_SYSROOT}/usr/lib/arm-linux-gnueabihf/pkgconfig:${CPARAMETERS_SYSROOT}/usr/share/pkgconfig")
