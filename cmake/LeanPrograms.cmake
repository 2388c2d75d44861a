# SPDX-License-Identifier: Apache-2.0
# How the shipped programs are linked. A run of vxm-tunnel is a few
# milliseconds, and most of that is the dynamic loader resolving symbols of
# libstdc++ and SQLite: the programs carry both inside instead (and utf8proc
# with them), keep only the code they reach, and load nothing but the C
# library (and libm, which SQLite's math functions need) at start.
#
# Builds with sanitizers or coverage keep the shared libraries, which their
# runtimes expect, and so does a build with VXM_STATIC_RUNTIME off (for a
# distribution that updates the libraries on their own). The flags are GNU
# linker flags: other platforms link as usual.
#
# Included once from the top level, after SQLite and utf8proc are found; in
# script mode (cmake -P) it checks a linked program instead (see below).

if(CMAKE_SCRIPT_MODE_FILE)
  # cmake -DREADELF=… -DPROGRAM=… -DINSIDE=sqlite3;utf8proc -P LeanPrograms.cmake:
  # fails when the program still loads a library it should carry inside, as
  # it silently does when an archive lands on the link line before the code
  # that needs it.
  execute_process(COMMAND ${READELF} -d ${PROGRAM} OUTPUT_VARIABLE dynamic COMMAND_ERROR_IS_FATAL ANY)
  foreach(library IN LISTS INSIDE)
    if(dynamic MATCHES "NEEDED\\)[^\n]*\\[(lib${library}\\.so[^]]*)\\]")
      message(FATAL_ERROR "${PROGRAM} loads ${CMAKE_MATCH_1}, which it should carry inside: "
                          "its archive did not resolve the symbols")
    endif()
  endforeach()
  return()
endif()

include_guard(GLOBAL)

set(VXM_LEAN_PROGRAMS OFF)
if(VXM_STATIC_RUNTIME AND CMAKE_SYSTEM_NAME STREQUAL "Linux" AND VXM_SANITIZE STREQUAL ""
   AND NOT VXM_COVERAGE AND NOT VXM_FUZZ)
  set(VXM_LEAN_PROGRAMS ON)
endif()

# The archives of SQLite and utf8proc (libsqlite3-dev and libutf8proc-dev
# ship one beside the shared library). Without one, that library stays shared.
# Each replaces the shared library in the imported target itself, so that it
# sits where the library would on every link line: after all the code that
# uses it, however deep in the dependencies that code is.
set(vxm_inside)
if(VXM_LEAN_PROGRAMS)
  find_library(VXM_SQLITE3_ARCHIVE NAMES libsqlite3.a DOC "Static SQLite linked into the programs")
  find_library(VXM_UTF8PROC_ARCHIVE NAMES libutf8proc.a HINTS ${UTF8PROC_LIBRARY_DIRS}
               DOC "Static utf8proc linked into the programs")
  if(VXM_SQLITE3_ARCHIVE)
    set_target_properties(SQLite::SQLite3 PROPERTIES
      IMPORTED_LOCATION ${VXM_SQLITE3_ARCHIVE}
      INTERFACE_LINK_LIBRARIES "m;${CMAKE_DL_LIBS};Threads::Threads")
    list(APPEND vxm_inside sqlite3)
  endif()
  if(VXM_UTF8PROC_ARCHIVE)
    set_target_properties(PkgConfig::UTF8PROC PROPERTIES INTERFACE_LINK_LIBRARIES ${VXM_UTF8PROC_ARCHIVE})
    list(APPEND vxm_inside utf8proc)
  endif()
endif()
set(VXM_LEAN_INSIDE ${vxm_inside})

function(vxm_lean_program target)
  if(NOT VXM_LEAN_PROGRAMS)
    return()
  endif()
  target_link_options(${target} PRIVATE
    -static-libstdc++ -static-libgcc
    # Drop the sections nothing refers to.
    -Wl,--gc-sections
    # Shared libraries whose symbols all come from archives are not loaded.
    -Wl,--as-needed
    # One symbol table lookup less per relocation at start.
    -Wl,--hash-style=gnu
    -Wl,-O1)
  if(VXM_LEAN_INSIDE AND CMAKE_READELF)
    add_custom_command(TARGET ${target} POST_BUILD VERBATIM
      COMMAND ${CMAKE_COMMAND} -DREADELF=${CMAKE_READELF} -DPROGRAM=$<TARGET_FILE:${target}>
              "-DINSIDE=${VXM_LEAN_INSIDE}" -P ${PROJECT_SOURCE_DIR}/cmake/LeanPrograms.cmake)
  endif()
endfunction()
