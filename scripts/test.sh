#!/usr/bin/env bash
# From a fresh clone to a green run: set-up, build, and the test suite in a
# plain build and under the sanitizers.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

scripts/setup.sh

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
run_suite build-tsan -DCMAKE_BUILD_TYPE=Debug -DVELMORA_SANITIZE=thread \
  -DVELMORA_BUILD_BENCH=OFF -DVELMORA_BUILD_TOOLS=OFF
echo "All test suites passed"
