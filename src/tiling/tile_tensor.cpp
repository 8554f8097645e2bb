#include "tiling/tile_tensor.h"

#include <algorithm>
#include <cstring>

#include "backend/tensor_elements.h"

namespace {

ONNXTensorElementDataType typeOf(const TensorFrame& f) { return static_cast<ONNXTensorElementDataType>(f.elementType); }

size_t elementBytes(const TensorFrame& f) { return convertedElementBytes(typeOf(f)); }

char* bytesAt(const TensorFrame& f, int64_t element) {
    return static_cast<char*>(f.data) + static_cast<size_t>(element) * elementBytes(f);
}

bool interleaved(const TensorFrame& f) { return f.layout == Layout::ChannelsLast || f.channels == 1; }

// A run of `count` equal items of `size` bytes: one copy, then the filled
// part doubles with each block copy.
void replicate(char* dst, const char* item, size_t size, int64_t count) {
    if (count <= 0) return;
    std::memcpy(dst, item, size);
    for (int64_t filled = 1; filled < count;) {
        const int64_t n = std::min(filled, count - filled);
        std::memcpy(dst + static_cast<size_t>(filled) * size, dst, static_cast<size_t>(n) * size);
        filled += n;
    }
}

}  // namespace

void writePixels(const TensorFrame& f, int64_t at, const float* pixels, int64_t count) {
    if (count <= 0) return;
    if (interleaved(f))
        return storeElements(pixels, static_cast<size_t>(count * f.channels), typeOf(f), bytesAt(f, at * f.channels));
    storePlanar(pixels, count, f.channels, typeOf(f), bytesAt(f, at), f.width * f.height);
}

void repeatPixel(const TensorFrame& f, int64_t at, const float* pixel, int64_t count) {
    if (count <= 0) return;
    // The pixel converted once, then copied as it lies in the tensor.
    const size_t size = elementBytes(f);
    char converted[8 * 64];
    std::vector<char> large;
    char* one = converted;
    if (static_cast<size_t>(f.channels) * size > sizeof converted) {
        large.resize(static_cast<size_t>(f.channels) * size);
        one = large.data();
    }
    storeElements(pixel, static_cast<size_t>(f.channels), typeOf(f), one);
    if (interleaved(f))
        return replicate(bytesAt(f, at * f.channels), one, size * static_cast<size_t>(f.channels), count);
    const int64_t plane = f.width * f.height;
    for (int64_t ch = 0; ch < f.channels; ++ch)
        replicate(bytesAt(f, ch * plane + at), one + static_cast<size_t>(ch) * size, size, count);
}

void readPixels(const TensorFrame& f, int64_t at, int64_t count, float* out) {
    if (count <= 0) return;
    if (interleaved(f))
        return loadElements(bytesAt(f, at * f.channels), typeOf(f), static_cast<size_t>(count * f.channels), out);
    loadPlanar(bytesAt(f, at), typeOf(f), count, f.channels, out, f.width * f.height);
}
