#!/usr/bin/env bash
# How far the text detector's tiled results stray from its whole-page
# result, and what each costs: builds bench/text_detector_fidelity, renders
# the page of printed text into BUILD_DIR/fidelity/ and measures the tilings
# 256/224 (the old default), 512/256, 640/512 and 1024/512 against one run on
# the whole page.
#
# Usage: scripts/fidelity.sh [BUILD_DIR] [program arguments...]
#   BUILD_DIR defaults to build/ (configured here when it is not yet).
#   For example: scripts/fidelity.sh build --rounds 3 --maps build/fidelity/maps
# Times are medians over the rounds, whole page and tilings alternating;
# other work on the machine skews them (the load is shown before and after).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build}"
shift || true
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j2 --target text_detector_fidelity
mkdir -p "$build/fidelity"
page="$build/fidelity/page.png"
/usr/bin/python3 "$root/scripts/make_page.py" "$page"
echo "cores: $(nproc); load before: $(uptime)"
"$build/bin/text_detector_fidelity" "$page" \
  --tile 256 --step 224 --tile 512 --step 256 --tile 640 --step 512 --tile 1024 --step 512 "$@"
echo "load after: $(uptime)"
