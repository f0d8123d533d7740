# What `cmake --install` puts in place: the headers, both libraries and
# orvexctl, a CMake package (find_package(orvexportio) gives
# orvexportio::orvexportio and orvexportio::sim) and pkg-config files
# (orvexportio.pc, orvexportio-sim.pc). Every file refers to the others by
# relative paths, so the installed tree can be moved.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(ORVEX_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/orvexportio)

# The virtual-controller build where this platform makes one.
set(ORVEX_INSTALLED_LIBRARIES orvexportio)
if(TARGET orvexportio-sim)
  list(APPEND ORVEX_INSTALLED_LIBRARIES orvexportio-sim)
endif()

install(TARGETS ${ORVEX_INSTALLED_LIBRARIES} EXPORT orvexportioTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES
  ${PROJECT_SOURCE_DIR}/include/orvexportio.h
  ${PROJECT_SOURCE_DIR}/include/orvexportio_sim.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS orvexctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The CMake package.
install(EXPORT orvexportioTargets NAMESPACE orvexportio:: DESTINATION ${ORVEX_PACKAGE_DIR})
configure_package_config_file(
  ${CMAKE_CURRENT_LIST_DIR}/orvexportioConfig.cmake.in
  ${PROJECT_BINARY_DIR}/orvexportioConfig.cmake
  INSTALL_DESTINATION ${ORVEX_PACKAGE_DIR})
write_basic_package_version_file(
  ${PROJECT_BINARY_DIR}/orvexportioConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/orvexportioConfig.cmake
  ${PROJECT_BINARY_DIR}/orvexportioConfigVersion.cmake
  DESTINATION ${ORVEX_PACKAGE_DIR})

# The pkg-config files find the prefix from their own place.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(ORVEX_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH ORVEX_PC_PREFIX "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
  string(REGEX REPLACE "/$" "" ORVEX_PC_PREFIX "${ORVEX_PC_PREFIX}")
  set(ORVEX_PC_PREFIX "\${pcfiledir}/${ORVEX_PC_PREFIX}")
endif()
function(orvex_pkg_config name library description)
  set(ORVEX_PC_NAME ${name})
  set(ORVEX_PC_LIBRARY ${library})
  set(ORVEX_PC_DESCRIPTION ${description})
  configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/orvexportio.pc.in
                 ${PROJECT_BINARY_DIR}/pkgconfig/${name}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/pkgconfig/${name}.pc
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endfunction()
orvex_pkg_config(orvexportio orvexportio
  "Drives the two-axis motion controller at I/O ports 0x340 and 0x341")
if(TARGET orvexportio-sim)
  orvex_pkg_config(orvexportio-sim orvexportio-sim
    "The orvexportio functions with a virtual controller behind the ports")
endif()
