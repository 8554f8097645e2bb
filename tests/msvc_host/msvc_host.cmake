# A test host in Microsoft's C++ ABI, as the image editors' plug-ins are built,
# made on this machine without any file from Microsoft: clang targets
# x86_64-pc-windows-msvc, lld-link links it against Wine's import libraries
# and headers, and it runs under Wine on Wine's own vcruntime140.dll and
# ucrtbase.dll, calling the velmora.dll of this build.
find_program(VELMORA_MSVC_CLANG NAMES clang-14 clang NO_CMAKE_FIND_ROOT_PATH)
find_program(VELMORA_LLD_LINK NAMES lld-link-14 lld-link NO_CMAKE_FIND_ROOT_PATH)
find_path(VELMORA_WINE_IMPORT_LIBS libvcruntime140.a
  PATHS /usr/lib/x86_64-linux-gnu/wine/x86_64-windows /usr/lib/wine/x86_64-windows
  NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
find_path(VELMORA_WINE_HEADERS windows/windows.h
  PATHS /usr/include/wine/wine /usr/include/wine
  NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
foreach(need VELMORA_MSVC_CLANG VELMORA_LLD_LINK VELMORA_WINE_IMPORT_LIBS VELMORA_WINE_HEADERS)
  if(NOT ${need})
    message(FATAL_ERROR "${need} not found (Debian: clang-14, lld, libwine-dev): run scripts/setup.sh")
  endif()
endforeach()

set(host_dir "${CMAKE_CURRENT_SOURCE_DIR}/msvc_host")
set(host_objects_dir "${CMAKE_CURRENT_BINARY_DIR}/msvc_host")
set(host_exe "${VELMORA_OUT}/msvc_host.exe")
# -nostdlibinc: Wine's C headers only (clang keeps its own intrinsics). Wine's
# winnt.h defines a function that this clang has as a built-in; the macro
# gives Wine's copy another name.
set(host_flags --target=x86_64-pc-windows-msvc -std=c++20 -O1 -fexceptions -fcxx-exceptions -nostdlibinc
  -Wall -Wextra -Werror
  -isystem "${VELMORA_WINE_HEADERS}/msvcrt" -isystem "${VELMORA_WINE_HEADERS}/windows"
  -I "${CMAKE_SOURCE_DIR}/include"
  -DWIN32_LEAN_AND_MEAN -D_InterlockedCompareExchange128=wineInterlockedCompareExchange128
  "-DVELMORA_TEST_MODELS=\"${velmora_host_prefix}${VELMORA_MODELS}\"")

set(host_objects "")
foreach(unit msvc_host allocation_hooks msvc_runtime)
  set(object "${host_objects_dir}/${unit}.obj")
  add_custom_command(OUTPUT "${object}"
    COMMAND "${VELMORA_MSVC_CLANG}" ${host_flags} -MD -MF "${object}.d" -c "${host_dir}/${unit}.cpp" -o "${object}"
    DEPENDS "${host_dir}/${unit}.cpp"
    DEPFILE "${object}.d"
    COMMENT "Compiling ${unit}.cpp for the Microsoft ABI"
    VERBATIM)
  list(APPEND host_objects "${object}")
endforeach()

# No C runtime start-up: the host's own entry point, and only the DLLs it
# names (kernel32, vcruntime140 for exceptions and type information,
# ucrtbase for what the compiler calls by itself, velmora).
add_custom_command(OUTPUT "${host_exe}"
  COMMAND "${VELMORA_LLD_LINK}" /nologo /nodefaultlib /entry:hostEntry /subsystem:console
    "/out:${host_exe}" ${host_objects}
    "${VELMORA_WINE_IMPORT_LIBS}/libkernel32.a" "${VELMORA_WINE_IMPORT_LIBS}/libvcruntime140.a"
    "${VELMORA_WINE_IMPORT_LIBS}/libucrtbase.a" "$<TARGET_LINKER_FILE:velmora>"
  DEPENDS ${host_objects} velmora
  COMMENT "Linking msvc_host.exe with lld-link"
  VERBATIM)
add_custom_target(msvc_host ALL DEPENDS "${host_exe}")
add_dependencies(msvc_host models)

add_test(NAME msvc_host COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} "${host_exe}")
set_tests_properties(msvc_host PROPERTIES FIXTURES_REQUIRED "${velmora_test_fixtures}"
  ENVIRONMENT "${velmora_test_environment}")
