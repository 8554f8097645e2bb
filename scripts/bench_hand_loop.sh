#!/usr/bin/env bash
# Times the library's tiled float call against a hand-written loop over the
# runtime's C API (bench/bench_hand_loop.cpp) and shows the machine's load
# before and after, since other work on the machine skews every figure.
#
# Usage: scripts/bench_hand_loop.sh [BUILD_DIR] [benchmark arguments...]
#   BUILD_DIR defaults to build/ (configured by scripts/test.sh or by hand).
#   For example: scripts/bench_hand_loop.sh build --benchmark_filter=conv6x32
# On a machine that other work keeps busy, the figures say more about that
# work than about the library. Run as root, `chrt -r 10` in front of the
# benchmark shields it from the rest (real-time scheduling, which the kernel
# caps at 95% of the processor); run it case by case, so that the rest is
# not held up for long.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build}"
shift || true
cmake --build "$build" -j2 --target bench_hand_loop
echo "cores: $(nproc); load before: $(uptime)"
"$build/bin/bench_hand_loop" --benchmark_repetitions=3 "$@"
echo "load after: $(uptime)"
