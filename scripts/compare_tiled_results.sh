#!/usr/bin/env bash
# Builds the library of another commit (default: the parent of HEAD) beside
# this tree's and runs scripts/tiled_digest.cpp against both: every tiled
# export over many models, sizes and downscale factors, with everything the
# library prints. Says "identical" when both runs wrote the same bytes, or
# shows where they differ.
#   scripts/compare_tiled_results.sh [BASE_COMMIT]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
base="${1:-HEAD~1}"
work="${VELMORA_COMPARE_DIR:-$root/build-compare}"
mkdir -p "$work"

build_library() {  # source-folder build-folder
  cmake -S "$1" -B "$2" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_BUILD_TESTS=OFF \
    -DVELMORA_BUILD_BENCH=OFF -DVELMORA_BUILD_TOOLS=OFF -DVELMORA_BUILD_GIMP_PLUGIN=OFF >/dev/null
  cmake --build "$2" -j "$(nproc)" --target velmora models >/dev/null
}

rm -rf "$work/base-src"
git worktree prune
git worktree add --detach -q "$work/base-src" "$base"
trap 'git worktree remove --force "$work/base-src"' EXIT
ln -s "$root/third_party" "$work/base-src/third_party"
build_library "$work/base-src" "$work/base"
build_library "$root" "$work/new"

g++ -std=c++20 -O1 -I "$root/include" "$root/scripts/tiled_digest.cpp" -o "$work/digest" \
  -L "$work/new/bin" -lvelmora
for which in base new; do
  (cd "$work" && LD_LIBRARY_PATH="$work/$which/bin" XDG_CONFIG_HOME="$work/config-$which" TEMP="$work" \
    "$work/digest" "$work/new/models" "$root/third_party/models" >"$work/$which.txt" 2>/dev/null)
done
cases="$(grep -c ' K=' "$work/new.txt")"
if cmp -s "$work/base.txt" "$work/new.txt"; then
  echo "identical: $cases cases, $(wc -c <"$work/new.txt") bytes of output each ($(git rev-parse --short "$base") and this tree)"
else
  echo "DIFFERENT ($cases cases):"
  diff "$work/base.txt" "$work/new.txt" | head -40
  exit 1
fi
