# SPDX-License-Identifier: Apache-2.0
# Vexomi.app in the build folder: the generated Info.plist, and the launcher
# (the bundle's executable) and the tool in Contents/MacOS/, signed.
#
# VXM_CODESIGN_IDENTITY names the signing identity ("Developer ID
# Application: …"): the tool and the bundle are then signed with the hardened
# runtime, a secure timestamp and the generated entitlements, which the
# provisioning profile embedded in the bundle must grant. Unset, both are
# signed ad hoc and without entitlements: the system kills a program that
# claims restricted entitlements without a profile granting them, so only a
# build without them runs on the developer's own Mac.
set(VXM_CODESIGN_IDENTITY "" CACHE STRING "Signing identity for Vexomi.app; empty signs ad hoc")
set(VXM_PROVISIONING_PROFILE "" CACHE FILEPATH
    "Provisioning profile granting the entitlements, embedded in Vexomi.app before it is signed")

set(app ${CMAKE_BINARY_DIR}/Vexomi.app)
if(VXM_CODESIGN_IDENTITY STREQUAL "")
  set(sign codesign --force --sign - --identifier ${VXM_APP_IDENTIFIER})
  set(tool_entitlements)
  set(launcher_entitlements)
else()
  set(sign codesign --force --options runtime --timestamp --sign ${VXM_CODESIGN_IDENTITY}
      --identifier ${VXM_APP_IDENTIFIER})
  set(tool_entitlements --entitlements ${macos}/vxm-tunnel.entitlements)
  set(launcher_entitlements --entitlements ${macos}/vxm-launcher.entitlements)
endif()

set(embed_profile)
if(NOT VXM_PROVISIONING_PROFILE STREQUAL "")
  set(embed_profile COMMAND ${CMAKE_COMMAND} -E copy ${VXM_PROVISIONING_PROFILE}
      ${app}/Contents/embedded.provisionprofile)
endif()

add_custom_target(vexomi-app ALL
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${app}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${app}/Contents/MacOS
  COMMAND ${CMAKE_COMMAND} -E copy ${macos}/Info.plist ${app}/Contents/Info.plist
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:vxm-launcher> $<TARGET_FILE:vxm-tunnel> ${app}/Contents/MacOS/
  ${embed_profile}
  # Inside out: the tool, then the bundle, which signs its executable.
  COMMAND ${sign} ${tool_entitlements} ${app}/Contents/MacOS/vxm-tunnel
  COMMAND ${sign} ${launcher_entitlements} ${app}
  DEPENDS vxm-launcher vxm-tunnel ${macos}/Info.plist
  COMMENT "Assembling and signing Vexomi.app"
  VERBATIM)
