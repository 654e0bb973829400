# SPDX-License-Identifier: MIT
# Installs a build of the library into a fresh tree and checks the tree, or
# builds and runs a user's program against such a tree or from source.
#
#   -DMODE=install|cmake|pkgconfig|subdirectory|fetchcontent
#         install: installs BUILD_DIR, or where KIND is not OWN_KIND a
#         library-only build of that kind made beside it; cmake, pkgconfig:
#         the consumer of that tree, found either way; subdirectory,
#         fetchcontent: a user's project that takes the library in from source
#   -DKIND=shared|static, -DOWN_KIND   the kind the tree must hold, and BUILD_DIR's
#   -DBUILD_DIR, -DBUILD_TYPE, -DPREFIX, -DPROJECT_SOURCE   the build, the tree, the checkout
#   -DLIBDIR, -DBINDIR, -DMANDIR, -DVERSION   the install folders and the version
#   -DSYSROOT                    cross builds: the target tree, used as DESTDIR
#   -DSOURCE_DIR, -DWORK_DIR     tests/install/consumer and a scratch folder
#   -DCXX, -DCXX_FLAGS, -DLINK_FLAGS, -DEMULATOR, -DPKG_CONFIG_LIBDIR   as the main build has them
#   -DCROSS_ARGS                 cross builds: the toolchain file and its variables
#   -DREADELF                    where set: checks which libraries the consumer needs

# run(<command>...): runs it, stops the script with its output when it
# fails, else leaves its output in the caller's `output`.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed (${status}): ${ARGN}\n${output}")
  endif()
  set(output "${output}" PARENT_SCOPE)
endfunction()

set(tree "${SYSROOT}${PREFIX}")
set(ENV{LD_LIBRARY_PATH} "${tree}/${LIBDIR}")
if(MODE STREQUAL "install")
  if(NOT KIND STREQUAL OWN_KIND)
    set(BUILD_DIR "${PREFIX}-build")
    string(COMPARE EQUAL "${KIND}" shared shared)
    file(REMOVE_RECURSE "${BUILD_DIR}")
    run(${CMAKE_COMMAND} -S "${PROJECT_SOURCE}" -B "${BUILD_DIR}" "-DCMAKE_CXX_COMPILER=${CXX}"
        "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}" "-DCMAKE_BUILD_TYPE=${BUILD_TYPE}" -DBUILD_SHARED_LIBS=${shared}
        "-DCMAKE_INSTALL_LIBDIR=${LIBDIR}" -DCPARAMETERS_BUILD_TESTS=OFF ${CROSS_ARGS})
    run(${CMAKE_COMMAND} --build "${BUILD_DIR}")
  endif()
  file(REMOVE_RECURSE "${tree}")
  set(ENV{DESTDIR} "${SYSROOT}")
  # Runtime alone holds the tool and its page, and the tool runs; with
  # Development it is the whole install.
  foreach(component Runtime Development)
    run(${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${PREFIX}" --component ${component})
    run(${EMULATOR} "${tree}/${BINDIR}/cparameters" --version)
    if(NOT output STREQUAL "cparameters ${VERSION}\n" OR NOT EXISTS "${tree}/${MANDIR}/man1/cparameters.1")
      message(FATAL_ERROR "the tool in ${tree} says '${output}', or its manual page is missing")
    endif()
  endforeach()
  file(GLOB libraries RELATIVE "${tree}/${LIBDIR}" "${tree}/${LIBDIR}/libCParameters.*")
  if(KIND STREQUAL "shared")
    set(libraries_expected libCParameters.so libCParameters.so.0 libCParameters.so.${VERSION})
  else()
    set(libraries_expected libCParameters.a)
  endif()
  if(NOT libraries STREQUAL "${libraries_expected}" OR NOT EXISTS "${tree}/include/CParameters/CParameters.h"
     OR NOT EXISTS "${tree}/${LIBDIR}/pkgconfig/cparameters.pc")
    message(FATAL_ERROR "a ${KIND} install holds '${libraries}', or lacks the header or the pkg-config module")
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
  if(KIND STREQUAL "static")
    set(static_flag --static)
  endif()
  run(pkg-config ${static_flag} --cflags --libs cparameters)
  separate_arguments(flags UNIX_COMMAND "${CXX_FLAGS} ${LINK_FLAGS} ${output}")
  run(${CXX} ${sysroot_flag} "${SOURCE_DIR}/consumer.cpp" ${flags} -o "${WORK_DIR}/consumer")
else()
  # A user's project in WORK_DIR that takes the library in from source, on a
  # simulated machine without the test framework, checked so:
  #  - configuring never looks for it: pkg-config sees no module at all, and
  #    find_package(PkgConfig) is disabled, so any lookup would fail;
  #  - the user's cache gains no entry of ours without the CPARAMETERS_
  #    prefix, beyond those that project() and FetchContent make for any
  #    dependency and jsoncpp's (against the same project without the library);
  #  - nothing of the project's tests is built: the build has no target but
  #    the library, the tool and the user's own.
  file(MAKE_DIRECTORY "${WORK_DIR}/empty-pkgconfig")
  set(ENV{PKG_CONFIG_LIBDIR} "${WORK_DIR}/empty-pkgconfig")
  set(ENV{PKG_CONFIG_PATH} "")
  set(common -S "${SOURCE_DIR}/subproject" -DCMAKE_DISABLE_FIND_PACKAGE_PkgConfig=ON "-DCMAKE_CXX_COMPILER=${CXX}"
             "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${LINK_FLAGS}" ${CROSS_ARGS})
  if(MODE STREQUAL "subdirectory")
    set(how "-DCPARAMETERS_SOURCE=${PROJECT_SOURCE}")
  else()
    # A release archive of the checkout: everything but build folders and
    # the version control and packaging trees.
    file(GLOB entries RELATIVE "${PROJECT_SOURCE}" "${PROJECT_SOURCE}/*" "${PROJECT_SOURCE}/.clang-format")
    list(FILTER entries EXCLUDE REGEX "^(build|obj-.*|debian|\\.git)$")
    execute_process(COMMAND ${CMAKE_COMMAND} -E tar czf "${WORK_DIR}/cparameters.tar.gz" -- ${entries}
                    WORKING_DIRECTORY "${PROJECT_SOURCE}" COMMAND_ERROR_IS_FATAL ANY)
    set(how "-DCPARAMETERS_ARCHIVE=${WORK_DIR}/cparameters.tar.gz")
  endif()
  run(${CMAKE_COMMAND} -B "${WORK_DIR}/baseline" -DHOW=none ${common})
  run(${CMAKE_COMMAND} -B "${WORK_DIR}" -DHOW=${MODE} ${how} ${common})
  if(output MATCHES "UnitTest")
    message(FATAL_ERROR "configuring mentions the test framework:\n${output}")
  endif()
  file(STRINGS "${WORK_DIR}/baseline/CMakeCache.txt" before REGEX "^[A-Za-z_][^:=]*:[A-Z]+=")
  file(STRINGS "${WORK_DIR}/CMakeCache.txt" entries REGEX "^[A-Za-z_][^:=]*:[A-Z]+=")
  list(TRANSFORM before REPLACE ":.*" "")
  list(TRANSFORM entries REPLACE ":.*" "")
  list(REMOVE_ITEM entries ${before})
  # project(... VERSION) in a subproject fills CMAKE_PROJECT_VERSION* in for
  # a top-level project that has no version: CMake's own doing.
  list(FILTER entries EXCLUDE REGEX "^CPARAMETERS_|^CParameters_(SOURCE_DIR|BINARY_DIR|IS_TOP_LEVEL)$|^jsoncpp_DIR$")
  list(FILTER entries EXCLUDE REGEX "^FETCHCONTENT_[A-Z_]+_CPARAMETERS$|^CMAKE_PROJECT_VERSION(_[A-Z]+)?$")
  if(entries)
    message(FATAL_ERROR "the library added cache entries to its user's build: ${entries}")
  endif()
  run(${CMAKE_COMMAND} --build "${WORK_DIR}" --target help)
  string(REGEX MATCHALL "\\.\\.\\. [^ \n]+" targets "${output}")
  list(TRANSFORM targets REPLACE "^\\.\\.\\. " "")
  list(FILTER targets EXCLUDE REGEX "^(all|clean|depend|edit_cache|rebuild_cache|install.*|list_install_components|test)$")
  list(FILTER targets EXCLUDE REGEX "^(consumer|CParameters|cparameters)$|\\.(o|i|s)$")
  if(targets)
    message(FATAL_ERROR "the user's build holds targets beyond the library and the tool: ${targets}")
  endif()
  run(${CMAKE_COMMAND} --build "${WORK_DIR}")
endif()

# The program needs libCParameters.so.0 exactly when it was linked with the
# shared library.
if(READELF AND KIND)
  run(${READELF} -d "${WORK_DIR}/consumer")
  if(KIND STREQUAL "shared" AND NOT output MATCHES "libCParameters\\.so\\.0")
    message(FATAL_ERROR "the consumer does not need libCParameters.so.0:\n${output}")
  elseif(KIND STREQUAL "static" AND output MATCHES "libCParameters")
    message(FATAL_ERROR "the consumer of the static library needs a shared one:\n${output}")
  endif()
endif()
run(${EMULATOR} "${WORK_DIR}/consumer")
