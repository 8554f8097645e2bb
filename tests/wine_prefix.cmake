# Makes a fresh Wine prefix and keeps its server running for the tests that
# follow (ACTION start), or ends that server (ACTION stop).
set(env WINEPREFIX=${PREFIX} WINEDEBUG=-all "WINEDLLOVERRIDES=mscoree,mshtml=")
if(ACTION STREQUAL "stop")
  # Fails harmlessly when the server has already gone.
  execute_process(COMMAND "${CMAKE_COMMAND}" -E env ${env} "${WINESERVER}" -k OUTPUT_QUIET ERROR_QUIET)
  return()
endif()

if(NOT WINE)
  message(FATAL_ERROR "Wine is not installed (Debian: wine64 and wine)")
endif()
# A server still running for the previous prefix would outlive its folder.
if(EXISTS "${PREFIX}")
  execute_process(COMMAND "${CMAKE_COMMAND}" -E env ${env} "${WINESERVER}" -k OUTPUT_QUIET ERROR_QUIET)
endif()
file(REMOVE_RECURSE "${PREFIX}")
# Output goes to files throughout: the server and the services that wineboot
# starts outlive this step, and an inherited pipe would keep CTest waiting
# for them.
set(log "${PREFIX}.log")
# No Mono or Gecko (WINEDLLOVERRIDES): nothing here needs them, and their
# installers would wait.
execute_process(COMMAND "${CMAKE_COMMAND}" -E env ${env} "${WINE}" wineboot --init
  RESULT_VARIABLE rc OUTPUT_FILE "${log}" ERROR_FILE "${log}")
if(NOT rc EQUAL 0)
  file(READ "${log}" output)
  message(FATAL_ERROR "wineboot failed (${rc}):\n${output}")
endif()
# Idle for up to a minute between test programs instead of shutting down.
execute_process(COMMAND "${CMAKE_COMMAND}" -E env ${env} "${WINESERVER}" -p60
  OUTPUT_FILE "${log}.server" ERROR_FILE "${log}.server")
message(STATUS "Wine prefix ready: ${PREFIX}")
