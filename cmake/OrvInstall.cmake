include(CMakePackageConfigHelpers)

install(TARGETS orv EXPORT orvTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY include/orv ${ORV_GENERATED_INCLUDE}/orv DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        PATTERN "*.in" EXCLUDE)
install(EXPORT orvTargets NAMESPACE orv:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/orv)

configure_package_config_file(cmake/orvConfig.cmake.in
  ${PROJECT_BINARY_DIR}/orvConfig.cmake INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/orv)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/orvConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/orvConfig.cmake ${PROJECT_BINARY_DIR}/orvConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/orv)

# A static archive needs its dependencies on every link line, not only static ones.
# The C++ runtime too: a C host links with the C compiler.
if(BUILD_SHARED_LIBS)
  set(ORV_PC_REQUIRES Requires.private)
  set(ORV_PC_RUNTIME "")
else()
  set(ORV_PC_REQUIRES Requires)
  set(ORV_PC_RUNTIME "-lstdc++ -lm")
endif()
set(ORV_PC_GEOCLUE "")
if(ORV_WITH_GEOCLUE)
  set(ORV_PC_GEOCLUE " libsystemd")
endif()
configure_file(cmake/orv.pc.in ${PROJECT_BINARY_DIR}/orv.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/orv.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
