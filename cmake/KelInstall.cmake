# cmake/KelInstall.cmake - install rules: both libraries (with soname links), the public headers, a CMake package
# (find_package(kel) gives kel::keldcn8 and kel::kelchn8) and relocatable pkg-config files.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS keldcn8 kelchn8 EXPORT kelTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/kelbase.h ${PROJECT_SOURCE_DIR}/include/keldc.h
              ${PROJECT_SOURCE_DIR}/include/kelch.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

set(kelPackageDir ${CMAKE_INSTALL_LIBDIR}/cmake/kel)
install(EXPORT kelTargets NAMESPACE kel:: DESTINATION ${kelPackageDir})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/templates/kelConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/kelConfig.cmake INSTALL_DESTINATION ${kelPackageDir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/kelConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/kelConfig.cmake ${PROJECT_BINARY_DIR}/kelConfigVersion.cmake
        DESTINATION ${kelPackageDir})

foreach(lib keldcn8 kelchn8)
  set(KEL_PC_LIB ${lib})
  configure_file(${PROJECT_SOURCE_DIR}/cmake/templates/kel.pc.in ${PROJECT_BINARY_DIR}/${lib}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/${lib}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()
