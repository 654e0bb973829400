# SPDX-License-Identifier: MIT
# Installs a build of the library into a fresh tree, then builds and runs a
# consumer program against that tree.
#
#   -DMODE=install|build-install|cmake|pkgconfig
#         install: installs BUILD_DIR; build-install: configures and builds
#         PROJECT_SOURCE library-only in BUILD_DIR (shared if SHARED), then
#         installs it; cmake, pkgconfig: the consumer, found either way
#   -DKIND=shared|static         the kind of library the tree must hold
#   -DBUILD_DIR, -DPREFIX, -DLIBDIR   the build to install, where to, its library folder
#   -DPROJECT_SOURCE, -DSHARED, -DBUILD_TYPE   build-install: the sources and how to build them
#   -DSYSROOT                    cross builds: the target tree, used as DESTDIR
#   -DSOURCE_DIR, -DWORK_DIR     the consumer's sources and a scratch folder
#   -DCXX, -DCXX_FLAGS, -DLINK_FLAGS, -DEMULATOR, -DPKG_CONFIG_LIBDIR   as the main build has them
#   -DCROSS_ARGS                 cross builds: the toolchain file and its variables
#   -DREADELF                    where set: checks which libraries the consumer needs

include(${CMAKE_CURRENT_LIST_DIR}/Run.cmake)

set(tree "${SYSROOT}${PREFIX}")
if(MODE STREQUAL "build-install")
  file(REMOVE_RECURSE "${BUILD_DIR}")
  run(${CMAKE_COMMAND} -S "${PROJECT_SOURCE}" -B "${BUILD_DIR}" "-DCMAKE_CXX_COMPILER=${CXX}"
      "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}" "-DCMAKE_BUILD_TYPE=${BUILD_TYPE}" -DBUILD_SHARED_LIBS=${SHARED}
      "-DCMAKE_INSTALL_LIBDIR=${LIBDIR}"
      -DCPARAMETERS_BUILD_TESTS=OFF ${CROSS_ARGS})
  run(${CMAKE_COMMAND} --build "${BUILD_DIR}")
  set(MODE install)
endif()
if(MODE STREQUAL "install")
  file(REMOVE_RECURSE "${tree}")
  set(ENV{DESTDIR} "${SYSROOT}")
  # Runtime and Development together make the whole install.
  foreach(component Runtime Development)
    run(${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${PREFIX}" --component ${component})
  endforeach()
  file(GLOB shared_objects "${tree}/${LIBDIR}/libCParameters.so*")
  file(GLOB archives "${tree}/${LIBDIR}/libCParameters.a")
  if(NOT EXISTS "${tree}/include/CParameters/CParameters.h" OR NOT EXISTS "${tree}/${LIBDIR}/pkgconfig/cparameters.pc")
    message(FATAL_ERROR "the install in ${tree} lacks the header or the pkg-config module")
  endif()
  if(KIND STREQUAL "shared" AND (NOT shared_objects OR archives))
    message(FATAL_ERROR "a shared install holds '${shared_objects}' and '${archives}'")
  elseif(KIND STREQUAL "static" AND (shared_objects OR NOT archives))
    message(FATAL_ERROR "a static install holds '${shared_objects}' and '${archives}'")
  endif()
  return()
endif()

file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
if(MODE STREQUAL "cmake")
  run(${CMAKE_COMMAND} -S "${SOURCE_DIR}" -B "${WORK_DIR}" "-DCMAKE_CXX_COMPILER=${CXX}" "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}"
      "-DCMAKE_EXE_LINKER_FLAGS=${LINK_FLAGS}" "-DCMAKE_PREFIX_PATH=${PREFIX}" ${CROSS_ARGS})
  run(${CMAKE_COMMAND} --build "${WORK_DIR}")
elseif(MODE STREQUAL "pkgconfig")
  # Our .pc lies in the fresh tree; jsoncpp's comes from the system or the target tree.
  set(ENV{PKG_CONFIG_PATH} "${tree}/${LIBDIR}/pkgconfig")
  if(SYSROOT)
    set(ENV{PKG_CONFIG_SYSROOT_DIR} "${SYSROOT}")
    set(ENV{PKG_CONFIG_LIBDIR} "${PKG_CONFIG_LIBDIR}")
    set(sysroot_flag "--sysroot=${SYSROOT}")
  endif()
  set(static_flag "")
  if(KIND STREQUAL "static")
    set(static_flag --static)
  endif()
  run(pkg-config ${static_flag} --cflags --libs cparameters)
  separate_arguments(flags UNIX_COMMAND "${CXX_FLAGS} ${LINK_FLAGS} ${output}")
  run(${CXX} ${sysroot_flag} "${SOURCE_DIR}/consumer.cpp" "${SOURCE_DIR}/legacy_include.cpp" ${flags}
      -o "${WORK_DIR}/consumer")
endif()

# The program needs libCParameters.so.0 exactly when it was linked with the
# shared library.
if(READELF)
  run(${READELF} -d "${WORK_DIR}/consumer")
  if(KIND STREQUAL "shared" AND NOT output MATCHES "libCParameters\\.so\\.0")
    message(FATAL_ERROR "the consumer does not need libCParameters.so.0:\n${output}")
  elseif(KIND STREQUAL "static" AND output MATCHES "libCParameters")
    message(FATAL_ERROR "the consumer of the static library needs a shared one:\n${output}")
  endif()
endif()
set(ENV{LD_LIBRARY_PATH} "${tree}/${LIBDIR}")
run(${EMULATOR} "${WORK_DIR}/consumer")
message(STATUS "consumer printed: ${output}")
