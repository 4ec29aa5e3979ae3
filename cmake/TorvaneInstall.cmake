include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS torvane_sdk EXPORT torvaneTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/sdk/include/torvane
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

set(TORVANE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/torvane)
install(EXPORT torvaneTargets NAMESPACE torvane:: DESTINATION ${TORVANE_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/torvaneConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/torvaneConfig.cmake
                              INSTALL_DESTINATION ${TORVANE_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/torvaneConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/torvaneConfig.cmake
              ${PROJECT_BINARY_DIR}/torvaneConfigVersion.cmake
        DESTINATION ${TORVANE_CMAKE_DIR})
