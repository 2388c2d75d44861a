# Fault tests of vxm-tunnel against the real binary and a real store: many
# processes at once, processes killed at random moments, a store that cannot
# grow or be written, bad documents, and where the private key may go. Their
# suites are named Fault*, so `ctest -R Fault` or
# `vxm_tests --gtest_filter='Fault*'` runs them alone. VXM_FAULT_SCALE scales
# their trial counts (sanitizer builds set it below 1).
if(VXM_TESTS)
  vxm_add_test_sources(
    ${CMAKE_CURRENT_LIST_DIR}/FaultSupport.cpp
    ${CMAKE_CURRENT_LIST_DIR}/FaultConcurrencyTests.cpp
    ${CMAKE_CURRENT_LIST_DIR}/FaultCrashTests.cpp
    ${CMAKE_CURRENT_LIST_DIR}/FaultDocumentTests.cpp
    ${CMAKE_CURRENT_LIST_DIR}/FaultSecretTests.cpp
    ${CMAKE_CURRENT_LIST_DIR}/FaultStorageTests.cpp
  )
endif()
