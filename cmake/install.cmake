# Installs the library, its header under include/CParameters/, a CMake
# package (CParameters::CParameters) and a pkg-config module (cparameters).

include(CMakePackageConfigHelpers)

set(CPARAMETERS_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/CParameters)

install(TARGETS CParameters EXPORT CParametersTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/CParameters)
install(EXPORT CParametersTargets NAMESPACE CParameters:: DESTINATION ${CPARAMETERS_CMAKE_DIR})

configure_package_config_file(cmake/CParametersConfig.cmake.in CParametersConfig.cmake
                              INSTALL_DESTINATION ${CPARAMETERS_CMAKE_DIR})
write_basic_package_version_file(CParametersConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/CParametersConfig.cmake ${PROJECT_BINARY_DIR}/CParametersConfigVersion.cmake
        DESTINATION ${CPARAMETERS_CMAKE_DIR})

# Relative to the .pc file, so that the install tree can be moved.
file(RELATIVE_PATH CPARAMETERS_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
configure_file(cmake/cparameters.pc.in cparameters.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/cparameters.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
