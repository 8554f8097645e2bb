#!/usr/bin/env bash
# From a fresh clone to a processed picture: set-up, build of the library and
# the velmora command, and the command's demo (the bundled sharpening model on
# the bundled sample image). The result lands in build/.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)" --target velmora_cli
cd build
bin/velmora "$@"
