#include "image/utils_image_operations.h"

#include <cassert>

void addScaledImages(const ImageFloat& imageA, const ImageFloat& imageB, ImageFloat& destImage, float k) {
    assert(imageA.width == imageB.width && imageA.height==imageB.height && imageA.numChannels==imageB.numChannels);
    assert(imageA.width == destImage.width && imageA.height == destImage.height && imageA.numChannels == destImage.numChannels);
    const int64_t n = elementCount(imageA);
    const float* a = imageA.data;
    const float* b = imageB.data;
    float* d = destImage.data;
    for (int64_t i = 0; i < n; ++i) {
        const float scaled = k * b[i];
        d[i] = a[i] + scaled;
    }
}

void addScaledChannels(const ImageFloat& imageA, const ImageFloat& imageB, ImageFloat& destImage, float k) {
    assert(imageA.width == imageB.width && imageA.height == imageB.height);
    const int64_t pixels = pixelCount(imageA);
    const int32_t common = imageA.numChannels < imageB.numChannels ? imageA.numChannels : imageB.numChannels;
    const int64_t ca = imageA.numChannels, cb = imageB.numChannels, cd = destImage.numChannels;
    for (int64_t p = 0; p < pixels; ++p) {
        for (int32_t ch = 0; ch < common; ++ch) {
            const float scaled = k * imageB.data[p * cb + ch];
            destImage.data[p * cd + ch] = imageA.data[p * ca + ch] + scaled;
        }
    }
}

void argmaxChannels(const float* values, uint8_t* out, uint64_t totalCount, int32_t numChannels) {
    if (!out || numChannels <= 0) return;
    const uint64_t pixels = totalCount / static_cast<uint64_t>(numChannels);
    for (uint64_t p = 0; p < pixels; ++p) {
        const float* px = values + p * numChannels;
        float best = px[0];
        int32_t index = 0;
        for (int32_t ch = 1; ch < numChannels; ++ch) {
            if (px[ch] > best) {
                best = px[ch];
                index = ch;
            }
        }
        out[p] = static_cast<uint8_t>(index);
    }
}

uint8_t floatToByte(float x, float scale) {
    const float v = x * scale + 0.5f;
    const int32_t t = (v > -2147483648.0f && v < 2147483648.0f) ? static_cast<int32_t>(v) : (v > 0 ? 255 : 0);
    return static_cast<uint8_t>(t < 0 ? 0 : (t > 255 ? 255 : t));
}

void floatToByte(const float* src, uint8_t* dst, int64_t count, float scale) {
    for (int64_t i = 0; i < count; ++i) dst[i] = floatToByte(src[i], scale);
}
