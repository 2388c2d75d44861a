# SPDX-License-Identifier: Apache-2.0
# The launcher's platform. Its interfaces are the headers Application.h,
# AppleEvent.h, ChildProcess.h and LaunchEnvironment.h; here is each
# platform's implementation.

# Where a macOS bundle keeps the agent and how launchctl is asked: plain
# strings from what the system says, so built and tested everywhere.
add_library(vxm_launcher_platform_mac STATIC
  mac/MacLaunchEnvironment.cpp
)
target_link_libraries(vxm_launcher_platform_mac PUBLIC vxm_platform)

# Documents from the command line, the agent beside the executable, the
# user's systemd, children through posix_spawn.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  add_library(vxm_launcher_platform_linux STATIC
    linux/LinuxChildProcess.cpp
    linux/LinuxLauncherDocuments.cpp
    linux/LinuxLauncherPlatform.cpp
  )
  target_link_libraries(vxm_launcher_platform_linux PUBLIC vxm_platform)
endif()
