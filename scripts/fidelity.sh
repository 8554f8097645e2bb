#!/usr/bin/env bash
# How far tiled and planned results stray from whole-picture results, and
# what each costs:
# - bench/text_detector_fidelity on the rendered page of printed text: the
#   tilings 256/224 (the old default), 512/256, 640/512 and 1024/512 and the
#   library's own plan (--plan) against one run of the text detector on the
#   whole page;
# - bench/plan_fidelity on the rendered photo: the library's plans for the
#   generated stand-ins (pixel-local x1, x2, x4 and one that reads the whole
#   picture) against whole-picture runs, PASS or FAIL against each target.
#
# Usage: scripts/fidelity.sh [BUILD_DIR] [text_detector_fidelity arguments...]
#   BUILD_DIR defaults to build/ (configured here when it is not yet).
#   For example: scripts/fidelity.sh build --rounds 5 --maps build/fidelity/maps
#   (--no-plan leaves the plan out).
# Times are medians over the rounds, whole page, tilings and plan
# alternating; other work on the machine skews them (the load is shown
# before and after). Exits non-zero when a program fails or a plan misses
# its target, after running both.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build}"
shift || true
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j2 --target text_detector_fidelity plan_fidelity
mkdir -p "$build/fidelity"
page="$build/fidelity/page.png"
photo="$build/fidelity/photo.png"
/usr/bin/python3 "$root/scripts/make_page.py" "$page"
/usr/bin/python3 "$root/scripts/make_photo.py" "$photo"
echo "cores: $(nproc); load before: $(uptime)"
status=0
"$build/bin/text_detector_fidelity" "$page" \
  --tile 256 --step 224 --tile 512 --step 256 --tile 640 --step 512 --tile 1024 --step 512 --plan "$@" || status=$?
echo
"$build/bin/plan_fidelity" "$photo" || status=$?
echo "load after: $(uptime)"
exit "$status"
