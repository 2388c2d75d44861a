# The VPN configuration store on NetworkManager, over the D-Bus system bus
# (sdbus-c++), and the stand-in VPN plugin the test services register.
find_package(sdbus-c++ 1.2 REQUIRED)

if(VXM_TESTS)
  add_executable(vxm-standin-vpn ${CMAKE_CURRENT_LIST_DIR}/tests/StandInVpnPlugin.cpp)
  target_compile_definitions(vxm-standin-vpn PRIVATE VXM_APP_IDENTIFIER="${VXM_APP_IDENTIFIER}")
  target_link_libraries(vxm-standin-vpn PRIVATE SDBusCpp::sdbus-c++)
endif()
