# SPDX-License-Identifier: Apache-2.0
# The VPN configuration store embedded in SQLite, with the stand-in provider
# that plays the packet tunnel on a machine that has none (Linux: inotify, /proc).
add_library(vxm_platform_embedded STATIC
  ${CMAKE_CURRENT_LIST_DIR}/SqliteDatabase.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SqliteVPNStore.cpp
  ${CMAKE_CURRENT_LIST_DIR}/StatusCache.cpp
  ${CMAKE_CURRENT_LIST_DIR}/StatusSignal.cpp
  ${CMAKE_CURRENT_LIST_DIR}/StoreConnection.cpp
  ${CMAKE_CURRENT_LIST_DIR}/StoreFile.cpp
  ${CMAKE_CURRENT_LIST_DIR}/StoreLocation.cpp
  ${CMAKE_CURRENT_LIST_DIR}/StoreObservers.cpp
  ${CMAKE_CURRENT_LIST_DIR}/StoreQueries.cpp
)
target_link_libraries(vxm_platform_embedded PUBLIC vxm_platform vxm_platform_posix SQLite::SQLite3)
