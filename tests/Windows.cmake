# Test programs of the Windows build, run under Wine: the unit tests that need no Linux-only piece
# (no lighttpd, no OpenSSL, no libjpeg), and the win32 backend's own tests.
file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/generated/TestsDir.h
     CONTENT "#pragma once\n#define QUILLON_TESTS_DIR \"${CMAKE_CURRENT_SOURCE_DIR}\"\n")

add_library(quillon_wintestsupport STATIC support/PeImage.cpp)
target_include_directories(quillon_wintestsupport PUBLIC ${CMAKE_CURRENT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/src
                           ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR}/tools
                           ${CMAKE_CURRENT_BINARY_DIR}/generated)
target_link_libraries(quillon_wintestsupport PUBLIC GTest::gtest)

# name: test_<name>; SOURCES: files under tests/; LIBS: what they link.
function(quillon_windows_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  list(TRANSFORM ARG_SOURCES PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)
  add_executable(test_${name} ${ARG_SOURCES})
  target_link_libraries(test_${name} PRIVATE quillon_wintestsupport GTest::gtest_main GTest::gmock ${ARG_LIBS})
  gtest_discover_tests(test_${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
                       PROPERTIES LABELS win-${name} TIMEOUT 300)
endfunction()

quillon_windows_test(platform
  SOURCES platform/SyncTest.cpp platform/SystemTest.cpp platform/ThreadCpuTimeTest.cpp
  LIBS quillon_platform)
quillon_windows_test(thread
  SOURCES Thread/EventTest.cpp Thread/FastMutexTest.cpp Thread/SimpleThreadTest.cpp
          Thread/WorkItemThreadTest.cpp Thread/WorkItemThreadExTest.cpp
  LIBS quillon_thread)
quillon_windows_test(presets
  SOURCES Presets/PrepositionListTest.cpp Presets/SmartPtrTest.cpp Presets/XMLPrepositionReaderTest.cpp
          Presets/XMLSettingsAPITest.cpp
  LIBS quillon_presets)
