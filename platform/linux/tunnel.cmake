# This machine's side of the tool's platform: the main loop on Asio, the
# process, and the VPN configuration store embedded in SQLite.
add_library(vxm_platform_linux STATIC
  ${CMAKE_CURRENT_LIST_DIR}/AsioMainQueue.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LinuxProcess.cpp
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
target_link_libraries(vxm_platform_linux PUBLIC vxm_platform asio SQLite::SQLite3)

if(VXM_TESTS)
  vxm_add_test_sources(
    ${CMAKE_CURRENT_LIST_DIR}/tests/AsioMainQueueTests.cpp
    ${CMAKE_CURRENT_LIST_DIR}/tests/LinuxProcessTests.cpp
    ${CMAKE_CURRENT_LIST_DIR}/tests/ProviderConfigurationCodingTests.cpp
    ${CMAKE_CURRENT_LIST_DIR}/tests/SqliteVPNStoreTests.cpp
    ${CMAKE_CURRENT_LIST_DIR}/tests/StoreLocationTests.cpp
  )
  vxm_add_test_libraries(vxm_platform_linux)

  # Sets a stored configuration's status by display name, standing in for the
  # packet-tunnel provider in end-to-end tests. Built with the tests only and
  # never installed.
  add_executable(vxm-store-status ${CMAKE_CURRENT_LIST_DIR}/tests/StoreStatusTool.cpp)
  target_link_libraries(vxm-store-status PRIVATE vxm_platform_linux)
  vxm_add_test_definitions(VXM_STORE_STATUS_PATH="$<TARGET_FILE:vxm-store-status>")
  vxm_add_test_dependencies(vxm-store-status)
endif()

# vxm-tunnel run as a process against a store in a temporary folder.
if(VXM_TESTS)
  vxm_add_test_sources(${PROJECT_SOURCE_DIR}/client/ne/Sources/VexomiTunnelCLI/tests/EndToEndTests.cpp)
  vxm_add_test_definitions(VXM_TUNNEL_PATH="$<TARGET_FILE:vxm-tunnel>")
  vxm_add_test_dependencies(vxm-tunnel)
endif()

# Fault tests of vxm-tunnel under load, crashes, storage faults and bad input.
include(${PROJECT_SOURCE_DIR}/client/ne/Sources/VexomiTunnelCLI/tests/fault/fault.cmake)
