# SPDX-License-Identifier: Apache-2.0
# This machine's side of the tool's platform: the main loop on Asio, the
# process (POSIX), and the VPN configuration store embedded in SQLite.
add_library(vxm_platform_linux STATIC
  ${CMAKE_CURRENT_LIST_DIR}/AsioMainQueue.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OperationQueue.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ProviderConfigurationCoding.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SqliteDatabase.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SqliteVPNStore.cpp
  ${CMAKE_CURRENT_LIST_DIR}/StandInProvider.cpp
  ${CMAKE_CURRENT_LIST_DIR}/StatusCache.cpp
  ${CMAKE_CURRENT_LIST_DIR}/StatusSignal.cpp
  ${CMAKE_CURRENT_LIST_DIR}/StoreConnection.cpp
  ${CMAKE_CURRENT_LIST_DIR}/StoreFile.cpp
  ${CMAKE_CURRENT_LIST_DIR}/StoreLocation.cpp
  ${CMAKE_CURRENT_LIST_DIR}/StoreObservers.cpp
  ${CMAKE_CURRENT_LIST_DIR}/StoreQueries.cpp
)
target_link_libraries(vxm_platform_linux PUBLIC vxm_platform vxm_platform_posix asio SQLite::SQLite3)
