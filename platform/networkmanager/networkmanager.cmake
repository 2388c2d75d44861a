# SPDX-License-Identifier: Apache-2.0
# The VPN configuration store on NetworkManager, over the D-Bus system bus
# (sdbus-c++), and the stand-in VPN plugin the test services register.
#
# The store runs in a program of its own, vxm-tunnel-networkmanager (made in
# the tool's folder), which vxm-tunnel runs in its place when the store is
# chosen: sdbus-c++ brings libsystemd and the shared libstdc++, whose loading
# would slow every run on the embedded store, and which would be a second C++
# runtime beside the one vxm-tunnel carries inside.
if(VXM_NETWORKMANAGER STREQUAL "AUTO")
  find_package(sdbus-c++ 1.2 QUIET)
elseif(VXM_NETWORKMANAGER)
  find_package(sdbus-c++ 1.2 REQUIRED)
endif()
if(VXM_DEFAULT_BACKEND STREQUAL "networkmanager" AND NOT sdbus-c++_FOUND)
  message(FATAL_ERROR "VXM_DEFAULT_BACKEND=networkmanager needs the NetworkManager backend (sdbus-c++)")
endif()

# The mapping, free of D-Bus, is built (and tested) always.
add_library(vxm_platform_networkmanager STATIC ${CMAKE_CURRENT_LIST_DIR}/VpnProfile.cpp)
target_link_libraries(vxm_platform_networkmanager PUBLIC vxm_platform)

# Where the backend's program lives, relative to vxm-tunnel's folder: the
# same in the build folder as installed.
file(RELATIVE_PATH VXM_NETWORKMANAGER_PROGRAM ${CMAKE_INSTALL_FULL_BINDIR}
     ${CMAKE_INSTALL_FULL_LIBEXECDIR}/vexomi/vxm-tunnel-networkmanager)

# The choice of store, made once when the tool starts (VPNStoreChoice); the
# backend's program makes it with the store inside.
add_library(vxm_platform_choice STATIC ${PROJECT_SOURCE_DIR}/platform/linux/VPNStoreChoice.cpp)
target_compile_definitions(vxm_platform_choice PRIVATE
  VXM_APP_IDENTIFIER="${VXM_APP_IDENTIFIER}" VXM_DEFAULT_BACKEND="${VXM_DEFAULT_BACKEND}"
  VXM_NETWORKMANAGER_PROGRAM="$<$<BOOL:${sdbus-c++_FOUND}>:${VXM_NETWORKMANAGER_PROGRAM}>")
target_link_libraries(vxm_platform_choice PUBLIC vxm_platform_linux vxm_platform_embedded)

if(sdbus-c++_FOUND)
  target_sources(vxm_platform_networkmanager PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/NetworkManagerBus.cpp
    ${CMAKE_CURRENT_LIST_DIR}/NetworkManagerVPNStore.cpp
  )
  target_link_libraries(vxm_platform_networkmanager PRIVATE SDBusCpp::sdbus-c++)

  add_library(vxm_platform_choice_networkmanager STATIC
    ${PROJECT_SOURCE_DIR}/platform/linux/VPNStoreChoice.cpp
    ${CMAKE_CURRENT_LIST_DIR}/NetworkManagerBackend.cpp
  )
  target_compile_definitions(vxm_platform_choice_networkmanager PRIVATE
    VXM_APP_IDENTIFIER="${VXM_APP_IDENTIFIER}" VXM_DEFAULT_BACKEND="${VXM_DEFAULT_BACKEND}"
    VXM_NETWORKMANAGER_BUILTIN)
  target_link_libraries(vxm_platform_choice_networkmanager PUBLIC
    vxm_platform_linux vxm_platform_embedded vxm_platform_networkmanager)
  # The folder the tool's CMake puts the program in.
  get_filename_component(program_dir ${CMAKE_BINARY_DIR}/bin/${VXM_NETWORKMANAGER_PROGRAM} DIRECTORY)
  set(VXM_NETWORKMANAGER_PROGRAM_DIR ${program_dir} CACHE INTERNAL "")

  # The test services' VPN plugin (scripts/networkmanager, bench/networkmanager);
  # never installed.
  add_executable(vxm-standin-vpn EXCLUDE_FROM_ALL ${CMAKE_CURRENT_LIST_DIR}/tests/StandInVpnPlugin.cpp)
  target_compile_definitions(vxm-standin-vpn PRIVATE VXM_APP_IDENTIFIER="${VXM_APP_IDENTIFIER}")
  target_link_libraries(vxm-standin-vpn PRIVATE SDBusCpp::sdbus-c++)
endif()
