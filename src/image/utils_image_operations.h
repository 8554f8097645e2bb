// Element-wise operations on image records and pixel buffers: scaled additions,
// the per-pixel arg-max over channels and the 8-bit <-> float conversions
// (rounding for the tiled path, truncating for the direct byte run).
// None of them allocates, keeps state or throws. Sizes are checked with assert.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/image_records.h"

// destImage = imageA + k * imageB over all width * height * numChannels
// elements (a multiply, then an add, in single precision). All three records
// must have the same sizes. destImage may share its buffer with imageA or
// imageB; partial overlaps are not allowed.
void addScaledImages(const ImageFloat& imageA, const ImageFloat& imageB, ImageFloat destImage, float k);

// The same formula per pixel over the channels that imageA and imageB have in
// common, each buffer walked with its own channel count. destImage has
// imageA's sizes; its remaining channels are left as they are.
void addScaledChannels(const ImageFloat& imageA, const ImageFloat& imageB, ImageFloat destImage, float k);

// out[p] = index of the largest of the numChannels values of pixel p, for the
// totalCount / numChannels pixels of `values`. Ties go to the lowest index.
// Does nothing if out is null or numChannels is 0.
void argmaxChannels(const float* values, uint8_t* out, size_t totalCount, size_t numChannels);

inline float byteToFloat(uint8_t b, float scale) { return static_cast<float>(b) * scale; }

// x * scale + 0.5, truncated toward zero to a 32-bit integer, clamped to
// [0, 255]. A value whose truncation does not fit in 32 bits (NaN and the
// infinities included) gives 0, as the processor's own conversion does.
inline uint8_t floatToByte(float x, float scale) {
    const float v = x * scale + 0.5f;
    float c = v > 0.0f ? v : 0.0f;  // also sends NaN to 0
    c = c < 255.0f ? c : 255.0f;
    return v < 2147483648.0f ? static_cast<uint8_t>(static_cast<int32_t>(c)) : uint8_t{0};
}

// floatToByte over count elements; the same bytes as the scalar form. src and
// dst must not overlap.
void floatToByte(const float* src, uint8_t* dst, int64_t count, float scale);

// x * scale without the half: truncated toward zero to a 32-bit integer,
// clamped to [0, 255]; a value whose truncation does not fit in 32 bits gives 0.
inline uint8_t floatToByteTruncating(float x, float scale) {
    const float v = x * scale;
    float c = v > 0.0f ? v : 0.0f;  // also sends NaN to 0
    c = c < 255.0f ? c : 255.0f;
    return v < 2147483648.0f ? static_cast<uint8_t>(static_cast<int32_t>(c)) : uint8_t{0};
}

// floatToByteTruncating over count elements; src and dst must not overlap.
void floatToByteTruncating(const float* src, uint8_t* dst, int64_t count, float scale);
