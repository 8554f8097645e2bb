#!/usr/bin/env bash
# Builds the libFuzzer harnesses (clang, with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each one for a given time.
#
#   scripts/fuzz.sh [--time SECONDS] [--parallel N] [--keep-going] [--build DIR] [FUZZER...]
#   scripts/fuzz.sh --replay [--build DIR]
#
#   --time S       seconds per fuzzer (default 60)
#   --parallel N   run up to N fuzzers at once (default 1)
#   --keep-going   go on after a finding (libFuzzer's fork mode, in a fresh
#                  process every few minutes) and collect them all
#   --build DIR    the build folder (default build-fuzz)
#   --replay       run only the reproducers of faults the library once had,
#                  and say which it fails again
#   FUZZER         fuzz_exports fuzz_model_load fuzz_run_cost fuzz_png
#                  fuzz_jpeg fuzz_tiff (default: all)
#
# Corpora grow in DIR/fuzz/corpus/FUZZER from one run to the next, beside the
# seeds that the build writes in DIR/fuzz/seeds; what a fuzzer finds in the
# last run lands in DIR/fuzz/findings/FUZZER and its log in
# DIR/fuzz/logs/FUZZER.log. Every run of fuzz_exports starts with the
# reproducers of faults the library once had, in
# DIR/fuzz/reproducers/fuzz_exports. The last lines are a summary per fuzzer
# (runs, runs per second, coverage); the exit status is 1 when any fuzzer
# found something.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

seconds=60
parallel=1
keep_going=0
replay=0
build=build-fuzz
fuzzers=()
all=(fuzz_exports fuzz_model_load fuzz_run_cost fuzz_png fuzz_jpeg fuzz_tiff)
while (($#)); do
  case "$1" in
    --time) seconds="$2"; shift 2 ;;
    --parallel) parallel="$2"; shift 2 ;;
    --keep-going) keep_going=1; shift ;;
    --build) build="$2"; shift 2 ;;
    --replay) replay=1; shift ;;
    -h|--help) sed -n '2,25p' "$0"; exit 0 ;;
    fuzz_*) fuzzers+=("$1"); shift ;;
    *) echo "fuzz.sh: unknown argument $1 (see --help)" >&2; exit 2 ;;
  esac
done
((${#fuzzers[@]})) || fuzzers=("${all[@]}")

cmake -S . -B "$build" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_FUZZ=ON -DVELMORA_BUILD_TESTS=OFF -DVELMORA_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target fuzzers

out="$build/fuzz"
bin="$build/bin"
# Every fuzzer process makes its scratch folder in here; removed even when
# a fuzzer dies.
scratch="$(mktemp -d "$( [ -w /dev/shm ] && echo /dev/shm || echo "${TMPDIR:-/tmp}")/velmora-fuzz-run.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT
export VELMORA_FUZZ_SCRATCH="$scratch"
export LSAN_OPTIONS="suppressions=$root/fuzz/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

if ((replay)); then
  for case in "$out"/reproducers/fuzz_exports/*.bin; do
    name="$(basename "$case" .bin)"
    if "$bin/fuzz_exports" -malloc_limit_mb=512 "$case" >"$out/reproducers/$name.log" 2>&1; then
      printf '%-32s passes\n' "$name"
    else
      printf '%-32s fails: %s\n' "$name" \
        "$(grep -m1 -E 'velmora-fuzz finding|ERROR: (AddressSanitizer|libFuzzer)|runtime error' "$out/reproducers/$name.log" | cut -c1-120)"
    fi
  done
  echo "(logs in $out/reproducers/)"
  exit 0
fi

run_one() {  # fuzzer
  local name="$1" corpus="$out/corpus/$1" findings="$out/findings/$1" log="$out/logs/$1.log"
  rm -rf "$findings"
  mkdir -p "$corpus" "$findings" "$out/logs"
  # A single allocation of over 512 MB is a finding: no input here needs one.
  local args=(-max_total_time="$seconds" -timeout=30 -rss_limit_mb=3072 -malloc_limit_mb=512 -print_final_stats=1
              -artifact_prefix="$findings/" -close_fd_mask=1)
  ((keep_going)) && args+=(-fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1)
  local inputs=("$corpus" "$out/seeds/$name")
  [ -d "$out/reproducers/$name" ] && inputs+=("$out/reproducers/$name")
  if "$bin/$name" "${args[@]}" "${inputs[@]}" >"$log" 2>&1 && [ -z "$(ls -A "$findings")" ]; then
    echo ok >"$log.status"
  else
    echo found >"$log.status"
  fi
}

last_number() {  # pattern file: the digits of its last match, or nothing
  { grep -oE "$1" "$2" || true; } | tail -1 | sed 's/.*[^0-9]\([0-9][0-9]*\)[^0-9]*$/\1/; s/^#\([0-9]*\).*/\1/'
}

summary() {  # fuzzer
  local name="$1" log="$out/logs/$1.log" runs speed cov found
  if ((keep_going)); then
    runs="$(last_number '^#[0-9]+: cov' "$log")"
    speed="$(last_number 'exec/s:? [0-9]+' "$log")"
    cov="$(last_number '^#[0-9]+: cov: [0-9]+' "$log")"
  else
    runs="$(last_number 'stat::number_of_executed_units: +[0-9]+' "$log")"
    speed="$(last_number 'stat::average_exec_per_sec: +[0-9]+' "$log")"
    cov="$(last_number ' cov: [0-9]+' "$log")"
  fi
  found="$(find "$out/findings/$name" -type f | wc -l)"
  printf '%-16s %10s runs %6s/s  coverage %5s  findings %s  %s\n' "$name" "${runs:-?}" "${speed:-?}" \
    "${cov:-?}" "$found" "$(cat "$log.status")"
}

running=0
for name in "${fuzzers[@]}"; do
  echo "fuzz.sh: $name for ${seconds}s"
  run_one "$name" &
  running=$((running + 1))
  if ((running >= parallel)); then
    wait -n || true
    running=$((running - 1))
  fi
done
wait || true

status=0
echo "fuzz.sh: ${seconds}s each, logs and findings in $out"
for name in "${fuzzers[@]}"; do
  summary "$name"
  grep -q ok "$out/logs/$name.log.status" || status=1
done
if ((status)); then
  for name in "${fuzzers[@]}"; do
    grep -q ok "$out/logs/$name.log.status" && continue
    echo "--- $name:"
    grep -E -m3 -A3 'velmora-fuzz finding|ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error|SUMMARY' \
      "$out/logs/$name.log" | head -20
  done
fi
exit "$status"
