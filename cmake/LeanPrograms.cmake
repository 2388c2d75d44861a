# SPDX-License-Identifier: Apache-2.0
# How the shipped programs are linked. A run of vxm-tunnel is a few
# milliseconds, and most of that is the dynamic loader resolving symbols of
# libstdc++ and SQLite: the programs carry both inside instead (and utf8proc
# with them), keep only the code they reach, and load nothing but the C
# library at start.
#
# Builds with sanitizers or coverage keep the shared libraries, which their
# runtimes expect, and so does a build with VXM_STATIC_RUNTIME off (for a
# distribution that updates the libraries on their own). The flags are GNU
# linker flags: other platforms link as usual.

include_guard(GLOBAL)

# The archives of SQLite and utf8proc (libsqlite3-dev and libutf8proc-dev
# ship one beside the shared library). Without one, that library stays shared.
find_library(VXM_SQLITE3_ARCHIVE NAMES libsqlite3.a DOC "Static SQLite linked into the programs")
find_library(VXM_UTF8PROC_ARCHIVE NAMES libutf8proc.a HINTS ${UTF8PROC_LIBRARY_DIRS}
             DOC "Static utf8proc linked into the programs")

function(vxm_lean_program target)
  if(NOT VXM_STATIC_RUNTIME OR NOT CMAKE_SYSTEM_NAME STREQUAL "Linux" OR NOT VXM_SANITIZE STREQUAL ""
     OR VXM_COVERAGE OR VXM_FUZZ)
    return()
  endif()
  target_link_options(${target} PRIVATE
    -static-libstdc++ -static-libgcc
    # Drop the sections nothing refers to.
    -Wl,--gc-sections
    # Shared libraries whose symbols now all come from archives (SQLite's,
    # still named by its imported target) are not loaded at all.
    -Wl,--as-needed
    # One symbol table lookup less per relocation at start.
    -Wl,--hash-style=gnu
    -Wl,-O1)
  # Each archive is listed before its shared library, so it is what
  # resolves the library's symbols.
  if(VXM_SQLITE3_ARCHIVE)
    target_link_libraries(${target} PRIVATE ${VXM_SQLITE3_ARCHIVE} m)
  endif()
  if(VXM_UTF8PROC_ARCHIVE)
    target_link_libraries(${target} PRIVATE ${VXM_UTF8PROC_ARCHIVE})
  endif()
endfunction()
