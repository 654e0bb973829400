# SPDX-License-Identifier: MIT
# Builds a user's project that takes the library in from source (MODE
# subdirectory or fetchcontent), on a simulated machine without the test
# framework, and checks that:
#  - configuring never looks for it: pkg-config sees no module at all, and
#    find_package(PkgConfig) is disabled, so any lookup would fail;
#  - nothing of the project's tests is built: the build has no target but the
#    library, the tool and the user's own;
#  - the user's cache gains no entry of ours without the CPARAMETERS_ prefix,
#    beyond those that project() and FetchContent make for any dependency
#    and jsoncpp's;
#  - the program linked with CParameters::CParameters runs.
#
#   -DMODE, -DWORK_DIR, -DPROJECT_SOURCE (the checkout), -DSOURCE_DIR (tests/install/consumer)
#   -DCXX, -DCXX_FLAGS, -DLINK_FLAGS, -DCROSS_ARGS, -DEMULATOR   as the main build has them

include(${CMAKE_CURRENT_LIST_DIR}/Run.cmake)

# The cache entries' names of a configured build folder.
function(cache_names dir out)
  file(STRINGS "${dir}/CMakeCache.txt" lines REGEX "^[A-Za-z_][^:=]*:[A-Z]+=")
  list(TRANSFORM lines REPLACE ":.*" "")
  set(${out} ${lines} PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}/empty-pkgconfig")
set(ENV{PKG_CONFIG_LIBDIR} "${WORK_DIR}/empty-pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(common -DCMAKE_DISABLE_FIND_PACKAGE_PkgConfig=ON "-DCMAKE_CXX_COMPILER=${CXX}" "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}"
           "-DCMAKE_EXE_LINKER_FLAGS=${LINK_FLAGS}" ${CROSS_ARGS})

set(how_args -DHOW=${MODE})
if(MODE STREQUAL "subdirectory")
  list(APPEND how_args "-DCPARAMETERS_SOURCE=${PROJECT_SOURCE}")
elseif(MODE STREQUAL "fetchcontent")
  # A release archive of the checkout: everything but build folders and the
  # version control and packaging trees.
  file(GLOB entries RELATIVE "${PROJECT_SOURCE}" "${PROJECT_SOURCE}/*" "${PROJECT_SOURCE}/.clang-format")
  list(FILTER entries EXCLUDE REGEX "^(build|obj-.*|debian|\\.git)$")
  set(archive "${WORK_DIR}/cparameters.tar.gz")
  execute_process(COMMAND ${CMAKE_COMMAND} -E tar czf "${archive}" -- ${entries}
                  WORKING_DIRECTORY "${PROJECT_SOURCE}" COMMAND_ERROR_IS_FATAL ANY)
  list(APPEND how_args "-DCPARAMETERS_ARCHIVE=${archive}")
else()
  message(FATAL_ERROR "MODE must be subdirectory or fetchcontent (got '${MODE}')")
endif()

run(${CMAKE_COMMAND} -S "${SOURCE_DIR}/subproject" -B "${WORK_DIR}/baseline" -DHOW=none ${common})
run(${CMAKE_COMMAND} -S "${SOURCE_DIR}/subproject" -B "${WORK_DIR}/build" ${how_args} ${common})
if(output MATCHES "UnitTest")
  message(FATAL_ERROR "configuring mentions the test framework:\n${output}")
endif()

cache_names("${WORK_DIR}/baseline" before)
cache_names("${WORK_DIR}/build" after)
list(REMOVE_ITEM after ${before} CPARAMETERS_SOURCE CPARAMETERS_ARCHIVE)
list(FILTER after EXCLUDE REGEX "^CPARAMETERS_|^CParameters_(SOURCE_DIR|BINARY_DIR|IS_TOP_LEVEL)$|^jsoncpp_DIR$")
list(FILTER after EXCLUDE REGEX "^FETCHCONTENT_[A-Z_]+_CPARAMETERS$")
# project(... VERSION) in a subproject fills these in for a top-level project
# that has no version: CMake's own doing for any versioned dependency.
list(FILTER after EXCLUDE REGEX "^CMAKE_PROJECT_VERSION(_MAJOR|_MINOR|_PATCH|_TWEAK)?$")
if(after)
  message(FATAL_ERROR "the library added cache entries to its user's build: ${after}")
endif()

run(${CMAKE_COMMAND} --build "${WORK_DIR}/build" --target help)
string(REGEX MATCHALL "\\.\\.\\. [^ \n]+" targets "${output}")
list(TRANSFORM targets REPLACE "^\\.\\.\\. " "")
list(FILTER targets EXCLUDE REGEX "^(all|clean|depend|edit_cache|rebuild_cache|install.*|list_install_components|test)$")
list(FILTER targets EXCLUDE REGEX "^(consumer|CParameters|cparameters)$|\\.(o|i|s)$")
if(targets)
  message(FATAL_ERROR "the user's build holds targets beyond the library and the tool: ${targets}")
endif()

run(${CMAKE_COMMAND} --build "${WORK_DIR}/build")
run(${EMULATOR} "${WORK_DIR}/build/consumer")
message(STATUS "consumer printed: ${output}")
