// Element-wise operations over image records and buffers. None allocates,
// keeps state or throws.
#pragma once

#include <cstdint>

#include "image/image_records.h"

// dest = a + k * b element by element; dest may share its buffer with a or b.
void addScaledImages(const ImageFloat& imageA, const ImageFloat& imageB, ImageFloat& destImage, float k);
// The same over the channels a and b have in common; other channels untouched.
void addScaledChannels(const ImageFloat& imageA, const ImageFloat& imageB, ImageFloat& destImage, float k);
// Index of each pixel's largest channel (ties to the lowest); nothing when out
// is null or numChannels is 0.
void argmaxChannels(const float* values, uint8_t* out, uint64_t totalCount, int32_t numChannels);

inline float byteToFloat(uint8_t b, float scale) { return static_cast<float>(b) * scale; }
// x * scale + 0.5 truncated toward zero, clamped to [0, 255].
uint8_t floatToByte(float x, float scale);
void floatToByte(const float* src, uint8_t* dst, int64_t count, float scale);
