# SPDX-License-Identifier: Apache-2.0
# This machine's side of the tool's platform: the main loop on Asio and the
# process (POSIX). The stores are in platform/embedded and platform/networkmanager.
add_library(vxm_platform_linux STATIC
  ${CMAKE_CURRENT_LIST_DIR}/AsioMainQueue.cpp
)
target_link_libraries(vxm_platform_linux PUBLIC vxm_platform vxm_platform_posix asio)
