# SPDX-License-Identifier: Apache-2.0
# The VPN configuration store on NetworkManager, over the D-Bus system bus
# (sdbus-c++), and the stand-in VPN plugin the test services register.
find_package(sdbus-c++ 1.2 REQUIRED)

add_library(vxm_platform_networkmanager STATIC
  ${CMAKE_CURRENT_LIST_DIR}/NetworkManagerBus.cpp
  ${CMAKE_CURRENT_LIST_DIR}/NetworkManagerVPNStore.cpp
  ${CMAKE_CURRENT_LIST_DIR}/VpnProfile.cpp
)
target_link_libraries(vxm_platform_networkmanager PUBLIC vxm_platform PRIVATE SDBusCpp::sdbus-c++)

# The choice of store, made once when vxm-tunnel starts. The backend is built
# and tested always, but linked into vxm-tunnel only with VXM_NETWORKMANAGER:
# sdbus-c++ brings libsystemd and the shared libstdc++, whose loading would
# slow every run on the embedded store.
add_library(vxm_platform_choice STATIC ${PROJECT_SOURCE_DIR}/platform/linux/VPNStoreChoice.cpp)
target_compile_definitions(vxm_platform_choice PRIVATE
  VXM_APP_IDENTIFIER="${VXM_APP_IDENTIFIER}" VXM_DEFAULT_BACKEND="${VXM_DEFAULT_BACKEND}")
target_link_libraries(vxm_platform_choice PUBLIC vxm_platform_linux vxm_platform_embedded)
if(VXM_NETWORKMANAGER)
  target_sources(vxm_platform_choice PRIVATE ${CMAKE_CURRENT_LIST_DIR}/NetworkManagerBackend.cpp)
  target_link_libraries(vxm_platform_choice PUBLIC vxm_platform_networkmanager)
else()
  target_sources(vxm_platform_choice PRIVATE ${CMAKE_CURRENT_LIST_DIR}/NoNetworkManagerBackend.cpp)
endif()

# The test services' VPN plugin (scripts/networkmanager, bench/networkmanager);
# never installed.
add_executable(vxm-standin-vpn EXCLUDE_FROM_ALL ${CMAKE_CURRENT_LIST_DIR}/tests/StandInVpnPlugin.cpp)
target_compile_definitions(vxm-standin-vpn PRIVATE VXM_APP_IDENTIFIER="${VXM_APP_IDENTIFIER}")
target_link_libraries(vxm-standin-vpn PRIVATE SDBusCpp::sdbus-c++)
