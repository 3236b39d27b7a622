# Install layout, CMake package, pkg-config file and the Debian package:
#   lib/quillon/libquillon.so   the module (a host loads it; nothing links it)
#   include/quillon/            the host interface headers
#   bin/quillon-host (launcher of lib/quillon/quillon-host), bin/quillon-camsim
#   share/doc/quillon/          README and the host integration guide
#   lib/cmake/Quillon/, lib/pkgconfig/quillon.pc
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# Relative to the prefix, so that the installed host finds the module beside it in any prefix.
set(QUILLON_MODULE_DIR lib/quillon)
get_target_property(_prefix quillon PREFIX)
if(NOT _prefix)
  set(_prefix ${CMAKE_SHARED_LIBRARY_PREFIX})
endif()
set(QUILLON_MODULE_FILE ${_prefix}quillon${CMAKE_SHARED_LIBRARY_SUFFIX})

install(TARGETS quillon LIBRARY DESTINATION ${QUILLON_MODULE_DIR} RUNTIME DESTINATION ${QUILLON_MODULE_DIR})
install(DIRECTORY include/quillon DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} FILES_MATCHING PATTERN "*.h")
install(TARGETS quillon-camsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The host program sits beside the module; bin/quillon-host starts it, from a per-user copy when the
# user cannot write that folder, since the driver keeps its preset file beside the running program.
install(TARGETS quillon-host RUNTIME DESTINATION ${QUILLON_MODULE_DIR})
install(PROGRAMS cmake/quillon-host-launcher.sh DESTINATION ${CMAKE_INSTALL_BINDIR} RENAME quillon-host)
install(FILES README.md docs/host-integration.md DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/quillon)

configure_package_config_file(cmake/QuillonConfig.cmake.in ${CMAKE_CURRENT_BINARY_DIR}/QuillonConfig.cmake
                              INSTALL_DESTINATION lib/cmake/Quillon
                              PATH_VARS CMAKE_INSTALL_INCLUDEDIR CMAKE_INSTALL_BINDIR QUILLON_MODULE_DIR)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/QuillonConfigVersion.cmake
                                 COMPATIBILITY SameMinorVersion ARCH_INDEPENDENT)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/QuillonConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/QuillonConfigVersion.cmake
        DESTINATION lib/cmake/Quillon)
configure_file(cmake/quillon.pc.in ${CMAKE_CURRENT_BINARY_DIR}/quillon.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/quillon.pc DESTINATION lib/pkgconfig)

set(CPACK_PACKAGE_NAME quillon)
set(CPACK_PACKAGE_VENDOR "Quillon developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Capture driver module for video recording servers, with its reference host and camera simulator")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Quillon developers <quillon@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
# Run-time libraries found by dpkg-shlibdeps from the installed programs and the module.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
