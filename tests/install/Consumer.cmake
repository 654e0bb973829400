# Installs the build into a fresh tree, then builds and runs a consumer
# program against that tree.
#
#   -DMODE=install|cmake|pkgconfig
#   -DBUILD_DIR, -DPREFIX, -DLIBDIR   the build to install, where to, its library folder
#   -DSYSROOT                    cross builds: the target tree, used as DESTDIR
#   -DSOURCE_DIR, -DWORK_DIR     the consumer's sources and a scratch folder
#   -DCXX, -DCXX_FLAGS, -DEMULATOR, -DPKG_CONFIG_LIBDIR   as the main build has them
#   -DCROSS_ARGS                 cross builds: the toolchain file and its variables

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed (${status}): ${ARGN}\n${output}")
  endif()
  set(output "${output}" PARENT_SCOPE)
endfunction()

set(tree "${SYSROOT}${PREFIX}")
if(MODE STREQUAL "install")
  file(REMOVE_RECURSE "${tree}")
  set(ENV{DESTDIR} "${SYSROOT}")
  run(${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${PREFIX}")
  return()
endif()

file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
if(MODE STREQUAL "cmake")
  run(${CMAKE_COMMAND} -S "${SOURCE_DIR}" -B "${WORK_DIR}" "-DCMAKE_CXX_COMPILER=${CXX}" "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}"
      "-DCMAKE_PREFIX_PATH=${PREFIX}"
      ${CROSS_ARGS})
  run(${CMAKE_COMMAND} --build "${WORK_DIR}")
elseif(MODE STREQUAL "pkgconfig")
  # Our .pc lies in the fresh tree; jsoncpp's comes from the system or the target tree.
  set(ENV{PKG_CONFIG_PATH} "${tree}/${LIBDIR}/pkgconfig")
  if(SYSROOT)
    set(ENV{PKG_CONFIG_SYSROOT_DIR} "${SYSROOT}")
    set(ENV{PKG_CONFIG_LIBDIR} "${PKG_CONFIG_LIBDIR}")
    set(sysroot_flag "--sysroot=${SYSROOT}")
  endif()
  run(pkg-config --cflags --libs cparameters)
  separate_arguments(flags UNIX_COMMAND "${CXX_FLAGS} ${output}")
  run(${CXX} ${sysroot_flag} "${SOURCE_DIR}/consumer.cpp" ${flags} -o "${WORK_DIR}/consumer")
endif()

set(ENV{LD_LIBRARY_PATH} "${tree}/${LIBDIR}")
run(${EMULATOR} "${WORK_DIR}/consumer")
message(STATUS "consumer printed: ${output}")
