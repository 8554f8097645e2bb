#include "image/unit_scale_copy.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

// At scale 1 every sample lands on a pixel: the weights are 1 for the pixel
// itself and +0 for its right, lower and lower-right neighbours, summed in
// the general resize's order. A product with 1 is the value itself.
inline float sample(float self, float below, float right, float belowRight) {
    return self + 0.0f * below + 0.0f * right + 0.0f * belowRight;
}

#if defined(__GNUC__)
// Four lanes at a time: the same IEEE operations per element as the scalar
// form, written out because -O2 does not vectorise the loop by itself.
using Float4 = float __attribute__((vector_size(16)));
inline Float4 load4(const float* p) {
    Float4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
#endif

// One row: `count` elements with a right neighbour `channels` elements on.
void sampleRow(float* out, const float* row, const float* next, int64_t count, int64_t channels) {
    int64_t i = 0;
#if defined(__GNUC__)
    const Float4 zero = {0.0f, 0.0f, 0.0f, 0.0f};
    for (; i + 4 <= count; i += 4) {
        const Float4 v = load4(row + i) + zero * load4(next + i) + zero * load4(row + i + channels) +
                         zero * load4(next + i + channels);
        std::memcpy(out + i, &v, sizeof v);
    }
#endif
    for (; i < count; ++i) out[i] = sample(row[i], next[i], row[i + channels], next[i + channels]);
}

}  // namespace

bool copyAtUnitScale(const ImageFloat& src, const ImageFloat& dest) {
    // Up to 2^24 every pixel coordinate is exact as a float, so the general
    // resize samples exactly at the pixels.
    constexpr int32_t kExactLimit = int32_t{1} << 24;
    if (src.width != dest.width || src.height != dest.height || src.numChannels != dest.numChannels) return false;
    if (src.width > kExactLimit || src.height > kExactLimit) return false;
    if (src.width <= 0 || src.height <= 0 || src.numChannels <= 0) return true;  // nothing to write

    const int64_t channels = src.numChannels;
    const int64_t stride = static_cast<int64_t>(src.width) * channels;
    const int64_t inner = stride - channels;  // pixels with a right neighbour
    for (int64_t y = 0; y < src.height; ++y) {
        const float* row = src.data + y * stride;
        const float* next = src.data + std::min<int64_t>(y + 1, src.height - 1) * stride;
        float* out = dest.data + y * stride;
        sampleRow(out, row, next, inner, channels);
        // The last column is its own right neighbour.
        for (int64_t i = inner; i < stride; ++i) out[i] = sample(row[i], next[i], row[i], next[i]);
    }
    return true;
}
