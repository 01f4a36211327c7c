# cmake/KelOptions.cmake - compiler settings for the whole tree and the rules for library code.
#
# Everything targets x86-64 with vector instructions up to SSSE3; nothing newer may appear in the libraries.
add_compile_options(-march=x86-64 -mssse3 -mtune=generic)

if(KEL_SANITIZE)
  add_compile_options(-fsanitize=${KEL_SANITIZE} -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=${KEL_SANITIZE})
endif()
if(KEL_BUILD_FUZZ)
  # Coverage feedback for libFuzzer from every object, the libraries included.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# kel_library_code: what every source file of the two libraries is compiled with. No exceptions, RTTI or
# thread-safe statics (the libraries have no runtime beyond libc), hidden visibility (the version script decides
# what is exported), the stack protector, and the house warnings.
add_library(kel_library_code INTERFACE)
target_include_directories(kel_library_code INTERFACE ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR}/src)
target_compile_options(kel_library_code INTERFACE
  -fno-exceptions -fno-rtti -fno-threadsafe-statics -fvisibility=hidden -fvisibility-inlines-hidden
  -fstack-protector-strong -fno-plt
  -Wall -Wextra -Wpedantic -Wshadow -Wundef -Wimplicit-fallthrough
  $<$<CONFIG:Debug>:-Werror>)

# kel_add_family(<target> LIB dc|ch SOURCES ...): one OBJECT library per subsystem, collected into the shared
# library and the internal static library of LIB.
function(kel_add_family target)
  cmake_parse_arguments(F "" "LIB" "SOURCES" ${ARGN})
  add_library(${target} OBJECT ${F_SOURCES})
  target_link_libraries(${target} PUBLIC kel_library_code)
  set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON)
  set_property(GLOBAL APPEND PROPERTY KEL_${F_LIB}_FAMILIES ${target})
endfunction()

# kel_read_exports(<header> <var>): the exported names listed as X(name) lines in an export-list header.
function(kel_read_exports header var)
  file(READ ${header} text)
  string(REGEX MATCHALL "\n[ \t]*X\\([A-Za-z0-9_]+\\)" entries "${text}")
  set(names)
  foreach(entry IN LISTS entries)
    string(REGEX MATCH "X\\(([A-Za-z0-9_]+)\\)" unused "${entry}")
    list(APPEND names ${CMAKE_MATCH_1})
  endforeach()
  set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${header})
  set(${var} ${names} PARENT_SCOPE)
endfunction()
