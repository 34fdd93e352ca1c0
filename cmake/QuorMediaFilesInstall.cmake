# Install rules: the shared module, the platform runtime that clients link, the public headers,
# a CMake package (find_package(QuorMediaFiles)) and a pkg-config file. The quormf tool installs
# itself from tools/.
#
# A client links QuorMediaFiles::quor (quor.hpp) or QuorMediaFiles::platform alone (the object
# interfaces) and creates objects by class identifier; the runtime loads the registered module
# (QuorMediaFiles::quormediafiles) on the first creation. The
# package also sets QuorMediaFiles_MODULE to the module's installed path, for registration.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(QUOR_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/QuorMediaFiles)

set_target_properties(quor_platform PROPERTIES EXPORT_NAME platform)
install(TARGETS quor_platform quor quormediafiles
  EXPORT QuorMediaFilesTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/quormediafiles
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  FILES_MATCHING PATTERN "*.h" PATTERN "*.hpp")
install(EXPORT QuorMediaFilesTargets
  NAMESPACE QuorMediaFiles::
  DESTINATION ${QUOR_CMAKE_DIR})

configure_package_config_file(
  ${PROJECT_SOURCE_DIR}/cmake/QuorMediaFilesConfig.cmake.in
  ${PROJECT_BINARY_DIR}/QuorMediaFilesConfig.cmake
  INSTALL_DESTINATION ${QUOR_CMAKE_DIR})
write_basic_package_version_file(
  ${PROJECT_BINARY_DIR}/QuorMediaFilesConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/QuorMediaFilesConfig.cmake
  ${PROJECT_BINARY_DIR}/QuorMediaFilesConfigVersion.cmake
  DESTINATION ${QUOR_CMAKE_DIR})

# pkg-config: paths relative to the file, so that the prefix given at install time holds.
file(RELATIVE_PATH QUOR_PC_PREFIX /p/${CMAKE_INSTALL_LIBDIR}/pkgconfig /p)
configure_file(${PROJECT_SOURCE_DIR}/cmake/quormediafiles.pc.in
  ${PROJECT_BINARY_DIR}/quormediafiles.pc.gen @ONLY)
file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/quormediafiles.pc
  INPUT ${PROJECT_BINARY_DIR}/quormediafiles.pc.gen)
install(FILES ${PROJECT_BINARY_DIR}/quormediafiles.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
