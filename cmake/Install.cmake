# What `cmake --install` puts where, in the directories Debian expects (GNUInstallDirs):
# the executable, the static library with its public header, the CMake package
# configuration (find_package(Vantorel) -> Vantorel::vantorel), vantorel.pc and the man page.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(VANTOREL_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Vantorel)

install(TARGETS vantorel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set_target_properties(vantorel_lib PROPERTIES EXPORT_NAME vantorel)
install(TARGETS vantorel_lib EXPORT VantorelTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/vantorel
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(EXPORT VantorelTargets NAMESPACE Vantorel:: DESTINATION ${VANTOREL_PACKAGE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/VantorelConfig.cmake.in
  ${PROJECT_BINARY_DIR}/VantorelConfig.cmake
  INSTALL_DESTINATION ${VANTOREL_PACKAGE_DIR})
# Before 1.0 a minor release may change the interface.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/VantorelConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/VantorelConfig.cmake
  ${PROJECT_BINARY_DIR}/VantorelConfigVersion.cmake
  ${PROJECT_SOURCE_DIR}/cmake/OpenCVModules.cmake
  DESTINATION ${VANTOREL_PACKAGE_DIR})

# The library is static, so a user links its OpenCV modules too.
get_filename_component(VANTOREL_OPENCV_LIBRARY_DIR ${OPENCV_core_LIBRARY} DIRECTORY)
set(VANTOREL_PC_OPENCV_LIBS "-L${VANTOREL_OPENCV_LIBRARY_DIR} -lopencv_imgproc -lopencv_core")
# vantorel.pc names absolute paths, so it is written at install time, when the prefix is
# final (`cmake --install --prefix` may differ from the configured one).
configure_file(${PROJECT_SOURCE_DIR}/cmake/WritePkgConfig.cmake.in
  ${PROJECT_BINARY_DIR}/WritePkgConfig.cmake @ONLY)
install(SCRIPT ${PROJECT_BINARY_DIR}/WritePkgConfig.cmake)
install(FILES ${PROJECT_BINARY_DIR}/vantorel.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(FILES ${PROJECT_SOURCE_DIR}/docs/vantorel.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
