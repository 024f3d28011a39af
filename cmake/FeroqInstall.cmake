# Installation and packaging: the three libraries, the public headers, the
# CMake package (find_package(feroq) -> feroq::feroq), feroq.pc for
# pkg-config, and the feroq tool with its man page; `cpack -G DEB` makes a
# Debian package of the same files.
include(CMakePackageConfigHelpers)

set(FEROQ_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/feroq)
set(FEROQ_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# What is installed carries no test hook: a build made with them refuses
# to install.
if(FEROQ_TESTING)
  install(CODE "message(FATAL_ERROR \"This build has FEROQ_TESTING on (test hooks compiled in); configure with -DFEROQ_TESTING=OFF -DFEROQ_BUILD_TESTS=OFF to install or package\")")
endif()

install(TARGETS feroq_platform feroq_services feroq
  EXPORT feroqTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/feroq
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  FILES_MATCHING PATTERN "*.h")

install(EXPORT feroqTargets
  NAMESPACE feroq::
  DESTINATION ${FEROQ_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/feroqConfig.cmake.in
  ${PROJECT_BINARY_DIR}/feroqConfig.cmake
  INSTALL_DESTINATION ${FEROQ_CMAKE_DIR})
# Before 1.0 only the same minor version is compatible.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/feroqConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/feroqConfig.cmake ${PROJECT_BINARY_DIR}/feroqConfigVersion.cmake
  DESTINATION ${FEROQ_CMAKE_DIR})

# feroq.pc finds the prefix from its own place, so the same file serves a
# prefix install and the Debian package.
file(RELATIVE_PATH FEROQ_PC_PREFIX_FROM_PCDIR
  /prefix/${FEROQ_PKGCONFIG_DIR} /prefix)
configure_file(${CMAKE_CURRENT_LIST_DIR}/feroq.pc.in ${PROJECT_BINARY_DIR}/feroq.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/feroq.pc DESTINATION ${FEROQ_PKGCONFIG_DIR})

if(FEROQ_BUILD_TOOLS)
  install(TARGETS feroq-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/tools/feroq/feroq.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# ---- Debian package -------------------------------------------------------------
set(CPACK_PACKAGE_NAME feroq)
set(CPACK_PACKAGE_VENDOR "feroq")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
  "feroq is a C++20 library through which administrative tools manage a farm of application servers and the Windows applications the farm publishes. The package holds the shared libraries, the public headers, the CMake package and pkg-config files, and the feroq command-line tool.")
set(CPACK_PACKAGE_CONTACT "feroq maintainers <feroq@localhost>")
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(FEROQ_HAVE_POSTGRES)
  # The PostgreSQL client library is loaded when a farm on a server is
  # opened, so the dependency scan does not see it.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libpq5 (>= 14)")
endif()
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
