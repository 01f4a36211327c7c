# cmake/KelInterfaceLibrary.cmake - kel_interface_library(): a drop-in library that exports another library's C
# interface (zlib's, libbz2's) under that library's soname, built on libkeldcn8 and the stream engines.
#
# The file goes to <build>/lib/kel (and is installed to <libdir>/kel), apart from the system's copy, so that a
# program gets it only when asked (LD_PRELOAD, `kel run`, or a library path). -Bsymbolic binds the library's
# calls to its own exports (gzwrite to this deflate, not to a zlib loaded earlier), and the exports are exactly
# the names of the version script, with the version nodes the original library uses.
function(kel_interface_library target)
  cmake_parse_arguments(L "" "OUTPUT_NAME;VERSION;SOVERSION;MAP" "" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  add_library(${target} SHARED ${sources})
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR}/src)
  # The interface headers are the system's own (zlib.h, bzlib.h): the declarations are the ABI we export.
  target_compile_definitions(${target} PRIVATE _LARGEFILE64_SOURCE=1)
  target_compile_options(${target} PRIVATE
    -fno-exceptions -fno-rtti -fno-threadsafe-statics -fvisibility=hidden -fvisibility-inlines-hidden
    -fstack-protector-strong -Wall -Wextra -Wshadow -Wimplicit-fallthrough $<$<CONFIG:Debug>:-Werror>)
  target_link_libraries(${target} PRIVATE kelstream_pieces keldcn8)
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME ${L_OUTPUT_NAME} VERSION ${L_VERSION} SOVERSION ${L_SOVERSION}
    LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/lib/kel
    LINK_DEPENDS ${L_MAP} LINKER_LANGUAGE C
    INSTALL_RPATH "$ORIGIN/..")
  target_link_options(${target} PRIVATE -Wl,--version-script=${L_MAP} -Wl,-Bsymbolic -Wl,-z,relro,-z,now)
  if(NOT KEL_SANITIZE AND NOT KEL_BUILD_FUZZ)
    target_link_options(${target} PRIVATE -nodefaultlibs -Wl,-z,defs -Wl,--as-needed)
    target_link_libraries(${target} PRIVATE c gcc)
  endif()
endfunction()
