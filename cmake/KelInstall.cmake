# cmake/KelInstall.cmake - install rules: the three libraries (with soname links), the public headers, a CMake
# package (find_package(kel) gives kel::keldcn8, kel::kelchn8 and kel::kelstream) and relocatable pkg-config files.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS keldcn8 kelchn8 kelstream EXPORT kelTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The drop-in zlib and libbz2 go to a directory of their own, where only `kel run` (or an explicit library path)
# finds them: installed beside the system's libraries they would replace them for every program.
install(TARGETS kelz kelbz2 LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/kel)
install(FILES ${PROJECT_SOURCE_DIR}/include/kelbase.h ${PROJECT_SOURCE_DIR}/include/keldc.h
              ${PROJECT_SOURCE_DIR}/include/kelch.h ${PROJECT_SOURCE_DIR}/include/kelstream.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

set(kelPackageDir ${CMAKE_INSTALL_LIBDIR}/cmake/kel)
install(EXPORT kelTargets NAMESPACE kel:: DESTINATION ${kelPackageDir})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/templates/kelConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/kelConfig.cmake INSTALL_DESTINATION ${kelPackageDir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/kelConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/kelConfig.cmake ${PROJECT_BINARY_DIR}/kelConfigVersion.cmake
        DESTINATION ${kelPackageDir})

# kelstream.pc: libkelstream has its own version (its soname is 1) and needs libkeldcn8. A program does not call
# libkeldcn8 itself, so it is not linked to it (Requires.private); but the linker must still find it to check
# libkelstream's references, and it does not look in -L directories for a library's NEEDED entries: -rpath-link
# points it there, wherever the package was unpacked.
foreach(lib keldcn8 kelchn8 kelstream)
  set(KEL_PC_LIB ${lib})
  set(KEL_PC_VERSION ${PROJECT_VERSION})
  set(KEL_PC_DESCRIPTION "kel performance primitives (${lib})")
  set(KEL_PC_PRIVATE "")
  set(KEL_PC_LINK_EXTRA "")
  if(lib STREQUAL "kelstream")
    get_target_property(KEL_PC_VERSION kelstream VERSION)
    set(KEL_PC_DESCRIPTION "kel container formats: gzip, zlib, Deflate, bzip2, LZ4 frames, lzop, LZSS (kelstream)")
    set(KEL_PC_PRIVATE "Requires.private: keldcn8")
    set(KEL_PC_LINK_EXTRA " -Wl,-rpath-link,\${libdir}")
  endif()
  configure_file(${PROJECT_SOURCE_DIR}/cmake/templates/kel.pc.in ${PROJECT_BINARY_DIR}/${lib}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/${lib}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()
