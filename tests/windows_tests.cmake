# The Windows test programs, cross-built with MinGW and run under Wine.
#
# Debian packages GoogleTest for MinGW only as source: build it here.
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)  # MinGW's gtest uses Win32 threads
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(VELMORA_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for the cross build")
add_subdirectory("${VELMORA_GTEST_SOURCE}" googletest EXCLUDE_FROM_ALL)  # defines GTest::gtest and the others

# Wine sees the build machine's root as drive Z:.
if(CMAKE_HOST_UNIX)
  set(velmora_host_prefix "Z:")
endif()

# One Wine prefix per build folder, made fresh once per test run (its first
# start is slow) and shared by every test of the run.
if(NOT VELMORA_WINE)
  message(WARNING "Wine was not found: the Windows tests can be built but not run here")
endif()
find_program(VELMORA_WINESERVER NAMES wineserver wineserver64 PATHS /usr/lib/wine)
set(VELMORA_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix")
set(velmora_test_environment "WINEPREFIX=${VELMORA_WINEPREFIX}" "WINEDEBUG=-all")
foreach(action start stop)
  add_test(NAME wine_${action} COMMAND "${CMAKE_COMMAND}" -DACTION=${action} "-DWINE=${VELMORA_WINE}"
    "-DWINESERVER=${VELMORA_WINESERVER}" "-DPREFIX=${VELMORA_WINEPREFIX}"
    -P "${CMAKE_CURRENT_SOURCE_DIR}/wine_prefix.cmake")
endforeach()
set_tests_properties(wine_start PROPERTIES FIXTURES_SETUP wine)
set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine)
set(velmora_test_fixtures wine)

# Hosts built with Microsoft's compiler catch what this DLL raises; a test
# host of that kind runs unless the DLL is built for MinGW hosts.
if(NOT VELMORA_MINGW_EXCEPTIONS)
  include(msvc_host/msvc_host.cmake)
endif()
