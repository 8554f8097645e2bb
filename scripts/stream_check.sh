#!/usr/bin/env bash
# What streaming costs and keeps, on pictures far larger than the tests'
# (minutes of work; not part of the test command):
#   - 6000 x 6000: streamed and held whole give the same file, byte for
#     byte, at K=1 and K=2, hard cut and blended, and the time of each
#     (streaming's cost);
#   - a kill -9 of a streamed run leaves the old output and nothing beside it;
#   - 40000 x 40000 RGB through a pixel-local model, streamed: peak RSS,
#     and crops of the result against crops of the picture run whole;
#   - 10000 x 10000 through an x4 upscaler: a 40000 x 40000 result, peak RSS.
#   scripts/stream_check.sh [small|big|all]   (default: all)
# Needs a build in build/ (targets velmora_cli and models) and GNU time.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
what="${1:-all}"
velmora="$root/build/bin/velmora"
models="$root/build/models"
work="${VELMORA_STREAM_CHECK_DIR:-/tmp/velmora-stream-check}"
mkdir -p "$work"
cd "$work"
g++ -std=c++20 -O2 "$root/scripts/stream_picture.cpp" -o stream_picture -lpng

# Runs the command under GNU time; prints "seconds peak-MB" (two numbers).
measured() {
  /usr/bin/time -v -o time.txt "$velmora" "$@" >/dev/null 2>run.txt || { cat run.txt time.txt; return 1; }
  awk -F': ' '/Maximum resident/ { rss = $2 / 1024 }
              /Elapsed \(wall clock\)/ { n = split($2, t, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + t[i] }
              END { printf "%.1f %.0f\n", s, rss }' time.txt
}

same() {
  if cmp -s "$1" "$2"; then echo "  identical: $1 $2"; else echo "  DIFFERENT: $1 $2"; return 1; fi
}

if [[ "$what" == small || "$what" == all ]]; then
  [[ -f p6000.png ]] || ./stream_picture write 6000 6000 p6000.png
  conv=(-m "$models/conv5_open.onnx" -t 256 -s 224)
  # Bands of one tile row (a tight budget) repeat the most tiles where bands
  # share tiles (a shrunk picture); a roomier budget gives taller bands.
  # Each run is repeated (STREAM_CHECK_ROUNDS, default 3), held and
  # streamed taking turns, and the median time is printed, so that the
  # machine's noise does not pass for streaming's cost.
  rounds="${STREAM_CHECK_ROUNDS:-3}"
  for k in 1 2; do
    for blend in "" --blend; do
      echo "6000 x 6000, conv5_open, K=$k ${blend:-(hard cut)}, median of $rounds:"
      declare -A times=() peaks=()
      for ((round = 1; round <= rounds; round++)); do
        for budget in whole 200M 600M; do
          if [[ $budget == whole ]]; then
            r=$(measured p6000.png held$k.png "${conv[@]}" -d $k $blend --no-stream)
          else
            r=$(measured p6000.png streamed$k.png "${conv[@]}" -d $k $blend --memory-budget $budget --plan)
            grep -q "streamed in" run.txt || { echo "  did not stream"; exit 1; }
            [[ $round == 1 ]] && grep -o "streamed in [^:]*" run.txt | sed "s/^/  $budget: /"
            cmp -s held$k.png streamed$k.png || { echo "  DIFFERENT: held$k.png streamed$k.png ($budget)"; exit 1; }
          fi
          read -r t m <<<"$r"
          times[$budget]+="$t "
          peaks[$budget]=$m
        done
      done
      for budget in whole 200M 600M; do
        median=$(tr ' ' '\n' <<<"${times[$budget]}" | grep . | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }')
        echo "  $budget: median $median s (${times[$budget]% }), peak ${peaks[$budget]} MB"
      done
      echo "  streamed files identical to the held one"
      unset times peaks
    done
  done
  echo "kill -9 of a streamed run:"
  rm -rf killed && mkdir killed && echo "the previous result" > killed/out.png
  "$velmora" p6000.png killed/out.png "${conv[@]}" --memory-budget 200M --quiet &
  sleep 8
  kill -9 $! || true
  wait $! 2>/dev/null || true
  if [[ "$(cat killed/out.png)" == "the previous result" && "$(ls -A killed)" == "out.png" ]]; then
    echo "  the old output is intact and nothing lies beside it"
  else
    echo "  LEFT BEHIND:"; ls -la killed; exit 1
  fi
fi

if [[ "$what" == big || "$what" == all ]]; then
  [[ -f p40000.png ]] || ./stream_picture write 40000 40000 p40000.png
  mix=(-m "$models/mix_cf_cf_f32_open.onnx" -t 512 -s 512)
  echo -n "40000 x 40000, pixel-local model, streamed (--memory-budget 1G): "
  measured p40000.png r40000.png "${mix[@]}" --memory-budget 1G | awk '{ print $1 " s, peak " $2 " MB" }'
  for spot in "0 0" "17000 23000" "38000 38000"; do
    read -r x y <<<"$spot"
    ./stream_picture crop p40000.png "$x" "$y" 2000 2000 crop.png
    "$velmora" crop.png crop-result.png "${mix[@]}" --no-stream --quiet
    a=$(./stream_picture digest r40000.png "$x" "$y" 2000 2000)
    b=$(./stream_picture digest crop-result.png)
    if [[ "$a" == "$b" ]]; then echo "  crop at $x,$y: identical"; else echo "  crop at $x,$y: DIFFERENT"; exit 1; fi
  done
  rm -f r40000.png
  [[ -f p10000.png ]] || ./stream_picture write 10000 10000 p10000.png
  echo -n "10000 x 10000 through up4_conv_open to 40000 x 40000 BigTIFF, streamed (--memory-budget 1.5G): "
  measured p10000.png up4.tif -m "$models/up4_conv_open.onnx" -t 256 -s 224 --memory-budget 1.5G | awk '{ print $1 " s, peak " $2 " MB" }'
  # BigTIFF: version 43 in the header's second word.
  [[ "$(od -An -tx1 -j2 -N2 up4.tif | tr -d ' ')" == 2b00 ]] && echo "  written as BigTIFF" || { echo "  NOT BigTIFF"; exit 1; }
  rm -f up4.tif
fi
