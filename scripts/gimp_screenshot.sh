#!/usr/bin/env bash
# A screenshot of the GIMP plug-in's dialog for docs/gimp.md: GIMP in a real
# window on a virtual screen (Xvfb), the demo's sample picture open, and the
# dialog opened by Script-Fu with a model chosen and a layer mask asked for,
# once the library has planned the layer. Needs a build tree with the
# plug-in (the install below builds it) and the packages scripts/setup.sh
# installs (xvfb, imagemagick, xdotool).
#   scripts/gimp_screenshot.sh [BUILD-FOLDER [OUTPUT.png]]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
out="${2:-$root/docs/gimp-dialog.png}"
model="$build/models/global_mix_t256.onnx"
picture="$build/bin/velmora-demo/sample.png"
for f in "$model" "$picture"; do
  [ -f "$f" ] || { echo "gimp_screenshot: $f is missing; build first (cmake --build $build)" >&2; exit 1; }
done

work="$(mktemp -d)"
xvfb_pid=""
gimp_pid=""
cleanup() {
  [ -n "$gimp_pid" ] && kill "$gimp_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The plug-in as a user installs it, in a GIMP of its own settings.
cmake --install "$build" --prefix "$work/prefix" --component gimp_plugin >/dev/null
mkdir -p "$work"/{home,config,cache,data}
echo "(plug-in-path \"\${gimp_dir}/plug-ins:\${gimp_plug_in_dir}/plug-ins:$work/prefix/lib/gimp/2.0/plug-ins\")" \
  >"$work/gimprc"

# Xvfb picks a free display and writes its number.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  sleep 0.2
done
[ -s "$work/display" ] || { echo "gimp_screenshot: Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(head -n 1 "$work/display")"

open_dialog="(let* ((image (car (gimp-file-load RUN-NONINTERACTIVE \"$picture\" \"$picture\")))
                    (layer (car (gimp-image-get-active-layer image))))
               (gimp-display-new image)
               (gimp-displays-flush)
               (plug-in-velmora-run-model RUN-INTERACTIVE image layer \"$model\" 0 0 1 1.0 1.0 \"\" \"\" 2))"
HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache" XDG_DATA_HOME="$work/data" \
  gimp-2.10 -s -n --gimprc="$work/gimprc" --batch-interpreter=plug-in-script-fu-eval -b "$open_dialog" \
  >"$work/gimp.log" 2>&1 &
gimp_pid=$!

# The dialog shows the plan once the library has measured the model.
dialog=""
for _ in $(seq 120); do
  dialog="$(xdotool search --name '^Run model$' 2>/dev/null | head -n 1 || true)"
  [ -n "$dialog" ] && break
  sleep 1
done
if [ -z "$dialog" ]; then
  echo "gimp_screenshot: the dialog did not open; GIMP said:" >&2
  cat "$work/gimp.log" >&2
  exit 1
fi
# No window manager places the windows: the picture's window fills the
# screen and the dialog stands over it.
for window in $(xdotool search --name 'sample' 2>/dev/null || true); do
  xdotool windowmove "$window" 0 0 windowsize "$window" 1280 800
done
xdotool windowmove "$dialog" 620 70 windowraise "$dialog"
sleep 8

import -window root "$work/screen.png"
mkdir -p "$(dirname "$out")"
convert "$work/screen.png" -strip -colors 128 "PNG8:$out"
echo "gimp_screenshot: wrote $out ($(stat -c %s "$out") bytes)"
