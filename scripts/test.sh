#!/usr/bin/env bash
# From a fresh clone to a green run: set-up, build, and the test suite in a
# plain build, under the sanitizers, and as a Windows DLL under Wine.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

scripts/setup.sh

# The tree is formatted as .clang-format says.
find src tests bench tools hosts fuzz -name '*.cpp' -o -name '*.h' -o -name '*.c' |
  sort | xargs clang-format --dry-run --Werror
echo "Formatting checked"

jobs="$(nproc)"
run_suite() {  # build-folder, extra cmake arguments...
  local dir="$1"; shift
  cmake -S . -B "$dir" -G Ninja "$@"
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure -j 1
}

run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo
run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DVELMORA_SANITIZE=address,undefined \
  -DVELMORA_BUILD_BENCH=OFF -DVELMORA_BUILD_TOOLS=OFF
# GIMP and its libraries are not built for ThreadSanitizer, so the plug-in
# stays out of that suite (AddressSanitizer runs it inside GIMP).
run_suite build-tsan -DCMAKE_BUILD_TYPE=Debug -DVELMORA_SANITIZE=thread \
  -DVELMORA_BUILD_BENCH=OFF -DVELMORA_BUILD_TOOLS=OFF -DVELMORA_BUILD_GIMP_PLUGIN=OFF
# The fuzzers (clang, AddressSanitizer and UndefinedBehaviorSanitizer), each
# for 20 seconds: an input that breaks a reader or an export at once is caught
# here. scripts/fuzz.sh runs them for longer (docs/testing.md, "Fuzzing").
scripts/fuzz.sh --time 20
# velmora.dll for Windows x64, cross-built with MinGW-w64; its tests run under
# Wine in a prefix that the first test makes inside build-win.
run_suite build-win -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_BUILD_BENCH=OFF -DVELMORA_BUILD_TOOLS=OFF
# The DLL for hosts built with MinGW, whose exceptions stay GCC's own. The
# option changes only the exported functions, so only the DLL and the tests
# that call it, as a host does, are built and run again.
cmake -S . -B build-win-mingw -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_BUILD_BENCH=OFF -DVELMORA_BUILD_TOOLS=OFF \
  -DVELMORA_MINGW_EXCEPTIONS=ON
cmake --build build-win-mingw -j "$jobs" --target test_api
ctest --test-dir build-win-mingw --output-on-failure -j 1 -R '^(api|exported_symbols)$'
echo "All test suites passed"
