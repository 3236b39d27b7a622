# Test programs of the Windows build, run under Wine: the unit tests that need no Linux-only piece
# (no lighttpd, no OpenSSL, no libjpeg), and the win32 backend's own tests.
file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/generated/TestsDir.h
     CONTENT "#pragma once\n#define QUILLON_TESTS_DIR \"${CMAKE_CURRENT_SOURCE_DIR}\"\n")

add_library(quillon_wintestsupport STATIC support/PeImage.cpp support/win32/FileAccess.cpp)
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
  SOURCES platform/SyncTest.cpp platform/SystemTest.cpp platform/ThreadCpuTimeTest.cpp platform/ProcessResourcesTest.cpp
  LIBS quillon_platform)
quillon_windows_test(thread
  SOURCES Thread/EventTest.cpp Thread/FastMutexTest.cpp Thread/SimpleThreadTest.cpp
          Thread/WorkItemThreadTest.cpp Thread/WorkItemThreadExTest.cpp
  LIBS quillon_thread)
quillon_windows_test(presets
  SOURCES Presets/PrepositionListTest.cpp Presets/SmartPtrTest.cpp Presets/XMLPrepositionReaderTest.cpp
          Presets/XMLSettingsAPITest.cpp
  LIBS quillon_presets)
target_compile_definitions(test_presets PRIVATE QUILLON_TESTS_WITHOUT_XMLLINT)
if(TARGET mxpegenc)
  file(GLOB _mxm_sources RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/mxm/*.cpp)
  quillon_windows_test(mxm SOURCES ${_mxm_sources} LIBS quillon_mxm mxpegenc JPEG::JPEG)
  target_include_directories(test_mxm PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
endif()
if(TARGET quillon_hostlib)
  file(GLOB _driver_sources RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/Driver/*.cpp)
  quillon_windows_test(driver SOURCES ${_driver_sources} LIBS quillon_driver quillon_hostlib)
  quillon_windows_test(io SOURCES IO/DigitalIOTest.cpp LIBS quillon_driver quillon_hostlib)
  target_include_directories(test_driver PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  # The files of these folders that need no simulator in the process.
  quillon_windows_test(channels SOURCES Channels/JpegMediaParserTest.cpp Channels/SensorSectionTest.cpp
                       LIBS quillon_driver quillon_hostlib)
  quillon_windows_test(properties
    SOURCES Properties/CameraPropertiesExTest.cpp Properties/ProbeRepliesTest.cpp Properties/PtzCapabilitiesTest.cpp
    LIBS quillon_driver quillon_hostlib)
  quillon_windows_test(ptz
    SOURCES PTZ/BasePTZCommTest.cpp PTZ/BasePTZControlTest.cpp PTZ/PTZHandlerTest.cpp PTZ/PtzCapabilityTextTest.cpp
            PTZ/ScaleConverterTest.cpp
    LIBS quillon_driver quillon_hostlib)
  target_compile_definitions(test_ptz PRIVATE QUILLON_TESTS_WITHOUT_XMLLINT)
endif()

# Against a camera: the Linux build's simulator on 127.0.0.1, started afresh for each test, and the
# Linux reference host whose recordings the Windows ones must equal.
set(QUILLON_LINUX_BUILD_DIR "" CACHE PATH "The Linux build folder (quillon-camsim, quillon-host)")
set(_camsim ${QUILLON_LINUX_BUILD_DIR}/tools/camsim/quillon-camsim)
set(_linux_host ${QUILLON_LINUX_BUILD_DIR}/tools/host/quillon-host)
set(_with_camsim ${CMAKE_CURRENT_SOURCE_DIR}/windows/with-camsim.sh ${_camsim})

# The module's export and import tables.
if(TARGET quillon AND CMAKE_OBJDUMP)
  add_test(NAME dll-exports-imports COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/windows/check-dll.sh ${CMAKE_OBJDUMP} $<TARGET_FILE:quillon>)
  set_tests_properties(dll-exports-imports PROPERTIES LABELS win-abi TIMEOUT 60)
endif()

# A host in C that drives quillon.dll through Microsoft's vtable layout; with the host's tables
# shifted by one slot it must detect the mismatch.
add_executable(msvc_layout_host windows/MsvcLayoutHost.c)
if(TARGET quillon)
  add_dependencies(msvc_layout_host quillon)
endif()
if(TARGET quillon AND EXISTS "${_camsim}" AND QUILLON_WINE)
  add_test(NAME c-host-msvc-layout
           COMMAND ${_with_camsim} -- ${QUILLON_WINE} $<TARGET_FILE:msvc_layout_host> $<TARGET_FILE:quillon> @PORT@)
  add_test(NAME c-host-shifted-layout
           COMMAND ${_with_camsim} -- ${QUILLON_WINE} $<TARGET_FILE:msvc_layout_host> $<TARGET_FILE:quillon> @PORT@ --shift 1)
  set_tests_properties(c-host-msvc-layout c-host-shifted-layout PROPERTIES LABELS win-abi TIMEOUT 120)
  set_tests_properties(c-host-shifted-layout PROPERTIES PASS_REGULAR_EXPRESSION "layout mismatch: ")
endif()

# The reference host under Wine against the simulator, compared with the Linux host's results.
if(TARGET quillon-host AND EXISTS "${_camsim}" AND EXISTS "${_linux_host}" AND QUILLON_WINE)
  add_test(NAME e2e-windows-host
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/windows/e2e.sh ${_camsim} ${_linux_host} ${QUILLON_WINE}
                   $<TARGET_FILE:quillon-host> ${CMAKE_CURRENT_BINARY_DIR}/e2e-windows-host)
  # It writes the preset file beside both hosts; nothing else may touch those meanwhile.
  set_tests_properties(e2e-windows-host PROPERTIES LABELS win-e2e TIMEOUT 300 RESOURCE_LOCK host_preset_files)
endif()

# The HTTP layer on WinHTTP and the sockets on Winsock: the shared layer, digest and socket tests
# (the same cases as on POSIX) and the Windows-specific ones, against scripted loopback peers.
quillon_windows_test(http
  SOURCES platform/HttpLayerTest.cpp platform/HttpDigestTest.cpp platform/SocketTest.cpp
          platform/win32/WinHttpLayerTest.cpp support/ScriptedServer.cpp
  LIBS quillon_platform)
# The HTTP client and the checked camera request over the WinHTTP backend.
quillon_windows_test(web
  SOURCES Web/HttpClientTest.cpp Web/CameraRequestTest.cpp Web/TextUtilsTest.cpp support/ScriptedServer.cpp
  LIBS quillon_web)
