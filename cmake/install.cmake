# What `cmake --install` puts into the prefix: the detector library with its
# public headers (include/tumblewatch/), a CMake package
# (find_package(Tumblewatch) gives the target Tumblewatch::tumblewatch, with
# a version file), a pkg-config file (tumblewatch.pc), the bench and, when
# the build has it, the workbench program.
include(CMakePackageConfigHelpers)

set(TUMBLEWATCH_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Tumblewatch)

set_target_properties(tumblewatch PROPERTIES EXPORT_NAME tumblewatch PUBLIC_HEADER "${TUMBLEWATCH_PUBLIC_HEADERS}")
install(TARGETS tumblewatch EXPORT TumblewatchTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tumblewatch)
install(EXPORT TumblewatchTargets NAMESPACE Tumblewatch:: DESTINATION ${TUMBLEWATCH_PACKAGE_DIR})

configure_package_config_file(cmake/TumblewatchConfig.cmake.in ${PROJECT_BINARY_DIR}/TumblewatchConfig.cmake
  INSTALL_DESTINATION ${TUMBLEWATCH_PACKAGE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/TumblewatchConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/TumblewatchConfig.cmake ${PROJECT_BINARY_DIR}/TumblewatchConfigVersion.cmake
  DESTINATION ${TUMBLEWATCH_PACKAGE_DIR})

# The pkg-config file finds the prefix from its own place, so the tree can
# be installed anywhere (cmake --install --prefix DIR) and moved.
file(RELATIVE_PATH TUMBLEWATCH_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" TUMBLEWATCH_PC_TO_PREFIX "${TUMBLEWATCH_PC_TO_PREFIX}")
configure_file(cmake/tumblewatch.pc.in ${PROJECT_BINARY_DIR}/tumblewatch.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/tumblewatch.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(TARGETS tilt_bench RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The workbench (target tumblewatch_cli, program tumblewatch) is defined in
# its own folder; its rule waits until every folder has been read.
function(tumblewatch_install_workbench)
  if(TARGET tumblewatch_cli)
    install(TARGETS tumblewatch_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endfunction()
cmake_language(DEFER CALL tumblewatch_install_workbench)
