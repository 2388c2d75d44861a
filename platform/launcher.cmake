# The launcher's platform. Its interfaces are the headers Application.h,
# AppleEvent.h, ChildProcess.h and LaunchEnvironment.h; here are the recording
# fakes the tests use and this machine's implementation.
add_library(vxm_launcher_platform_fake STATIC
  fake/FakeApplication.cpp
  fake/FakeAppleEvent.cpp
  fake/FakeChildProcesses.cpp
)
target_link_libraries(vxm_launcher_platform_fake PUBLIC vxm_platform vxm_platform_fake)

# Documents from the command line, the bundle from the executable's path,
# children through posix_spawn.
add_library(vxm_launcher_platform_linux STATIC
  linux/LinuxChildProcess.cpp
  linux/LinuxLauncherDocuments.cpp
  linux/LinuxLauncherPlatform.cpp
)
target_link_libraries(vxm_launcher_platform_linux PUBLIC vxm_platform)

if(VXM_TESTS)
  vxm_add_test_sources(
    ${CMAKE_CURRENT_SOURCE_DIR}/tests/AppleEventTests.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/linux/tests/LinuxLauncherDocumentsTests.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/linux/tests/LinuxLauncherPlatformTests.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/linux/tests/LinuxChildProcessTests.cpp
  )
  vxm_add_test_libraries(vxm_launcher_platform_fake vxm_launcher_platform_linux)
endif()
