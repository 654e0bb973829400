# SPDX-License-Identifier: MIT
# Installs the library, its header under include/CParameters/, a CMake
# package (CParameters::CParameters) and a pkg-config module (cparameters),
# in two components: Runtime (the shared library; the cparameters tool and
# its manual page add themselves to it) and Development (header, link library, static archive, CMake package,
# pkg-config module). A static build installs only Development files.

include(CMakePackageConfigHelpers)

set(CPARAMETERS_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/CParameters)

install(TARGETS CParameters EXPORT CParametersTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Runtime NAMELINK_COMPONENT Development
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development
        PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/CParameters COMPONENT Development)
install(EXPORT CParametersTargets NAMESPACE CParameters:: DESTINATION ${CPARAMETERS_CMAKE_DIR} COMPONENT Development)

configure_package_config_file(cmake/CParametersConfig.cmake.in CParametersConfig.cmake
                              INSTALL_DESTINATION ${CPARAMETERS_CMAKE_DIR})
write_basic_package_version_file(CParametersConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/CParametersConfig.cmake ${PROJECT_BINARY_DIR}/CParametersConfigVersion.cmake
        DESTINATION ${CPARAMETERS_CMAKE_DIR} COMPONENT Development)

# The pkg-config module names the prefix it is installed to (known only at
# install time: `cmake --install --prefix` may change it), so that under /usr
# pkg-config sees its own system folders and prints neither -I/usr/include
# nor -L for the system library folder. First the build's values go in, then
# at install time the prefix.
set(CPARAMETERS_PC_PREFIX @CMAKE_INSTALL_PREFIX@)
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(CPARAMETERS_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(CPARAMETERS_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
configure_file(cmake/cparameters.pc.in cparameters.pc.in @ONLY)
install(CODE "configure_file(\"${PROJECT_BINARY_DIR}/cparameters.pc.in\" \"${PROJECT_BINARY_DIR}/cparameters.pc\" @ONLY)"
        COMPONENT Development)
install(FILES ${PROJECT_BINARY_DIR}/cparameters.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT Development)
