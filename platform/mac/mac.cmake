# SPDX-License-Identifier: Apache-2.0
# The macOS side of both programs' platform: Objective-C++ with ARC over the
# SDK's own headers (never the stand-ins in check/, which only the syntax
# check on other systems uses). The process is the POSIX one.
add_library(vxm_platform_mac STATIC
  ${CMAKE_CURRENT_LIST_DIR}/MacAppleEvents.mm
  ${CMAKE_CURRENT_LIST_DIR}/MacApplication.mm
  ${CMAKE_CURRENT_LIST_DIR}/MacChildProcess.mm
  ${CMAKE_CURRENT_LIST_DIR}/MacMainQueue.mm
  ${CMAKE_CURRENT_LIST_DIR}/MacValues.mm
  ${CMAKE_CURRENT_LIST_DIR}/MacVPNStore.mm
)
target_link_libraries(vxm_platform_mac PUBLIC vxm_platform vxm_platform_posix
  "-framework Foundation" "-framework AppKit" "-framework NetworkExtension")
