#include "image/utils_image_operations.h"

#include <algorithm>
#include <cassert>

namespace {

// The loops below work in blocks of a fixed length so that the compiler turns
// each block into vector instructions even at -O2, with a scalar tail.
constexpr int64_t kBlock = 16;

// d[i] = a[i] + k * b[i]; no buffer overlaps another that is written.
void addScaledDistinct(const float* __restrict a, const float* __restrict b, float* __restrict d, int64_t count,
                       float k) {
    int64_t i = 0;
    for (; i + kBlock <= count; i += kBlock)
        for (int64_t j = 0; j < kBlock; ++j) d[i + j] = a[i + j] + k * b[i + j];
    for (; i < count; ++i) d[i] = a[i] + k * b[i];
}

// d[i] = d[i] + k * b[i]: the destination is imageA.
void addScaledIntoA(float* __restrict d, const float* __restrict b, int64_t count, float k) {
    int64_t i = 0;
    for (; i + kBlock <= count; i += kBlock)
        for (int64_t j = 0; j < kBlock; ++j) d[i + j] = d[i + j] + k * b[i + j];
    for (; i < count; ++i) d[i] = d[i] + k * b[i];
}

// d[i] = a[i] + k * d[i]: the destination is imageB.
void addScaledIntoB(const float* __restrict a, float* __restrict d, int64_t count, float k) {
    int64_t i = 0;
    for (; i + kBlock <= count; i += kBlock)
        for (int64_t j = 0; j < kBlock; ++j) d[i + j] = a[i + j] + k * d[i + j];
    for (; i < count; ++i) d[i] = a[i] + k * d[i];
}

void addScaledFlat(const float* a, const float* b, float* d, int64_t count, float k) {
    if (count <= 0) return;
    if (d == a && d == b) {
        for (int64_t i = 0; i < count; ++i) d[i] = d[i] + k * d[i];
    } else if (d == a) {
        addScaledIntoA(d, b, count, k);
    } else if (d == b) {
        addScaledIntoB(a, d, count, k);
    } else {
        addScaledDistinct(a, b, d, count, k);
    }
}

}  // namespace

void addScaledImages(const ImageFloat& imageA, const ImageFloat& imageB, ImageFloat destImage, float k) {
    // The text of this assertion is what a failure reports: kept as it is.
    // clang-format off
    assert(imageA.width == imageB.width && imageA.height==imageB.height && imageA.numChannels==imageB.numChannels);
    // clang-format on
    assert(imageA.width == destImage.width && imageA.height == destImage.height &&
           imageA.numChannels == destImage.numChannels);
    addScaledFlat(imageA.data, imageB.data, destImage.data, elementCount(imageA), k);
}

void addScaledChannels(const ImageFloat& imageA, const ImageFloat& imageB, ImageFloat destImage, float k) {
    assert(imageA.width == imageB.width && imageA.height == imageB.height);
    const int64_t pixels = pixelCount(imageA);
    const int64_t common = std::min(imageA.numChannels, imageB.numChannels);
    if (pixels <= 0 || common <= 0) return;
    const int64_t strideA = imageA.numChannels;
    const int64_t strideB = imageB.numChannels;
    const int64_t strideD = destImage.numChannels;
    if (strideA == strideB && strideA == strideD) {
        addScaledFlat(imageA.data, imageB.data, destImage.data, pixels * strideA, k);
        return;
    }
    const float* a = imageA.data;
    const float* b = imageB.data;
    float* d = destImage.data;
    for (int64_t p = 0; p < pixels; ++p, a += strideA, b += strideB, d += strideD)
        for (int64_t ch = 0; ch < common; ++ch) d[ch] = a[ch] + k * b[ch];
}

void argmaxChannels(const float* values, uint8_t* out, size_t totalCount, size_t numChannels) {
    if (out == nullptr || numChannels == 0) return;
    const size_t pixels = totalCount / numChannels;
    for (size_t p = 0; p < pixels; ++p, values += numChannels) {
        float best = values[0];
        size_t bestIndex = 0;
        for (size_t ch = 1; ch < numChannels; ++ch) {
            if (values[ch] > best) {
                best = values[ch];
                bestIndex = ch;
            }
        }
        out[p] = static_cast<uint8_t>(bestIndex);
    }
}

void floatToByte(const float* __restrict src, uint8_t* __restrict dst, int64_t count, float scale) {
    int64_t i = 0;
    for (; i + kBlock <= count; i += kBlock) {
        // The scalar form written branch-free, so that the block vectorises.
        for (int64_t j = 0; j < kBlock; ++j) {
            const float v = src[i + j] * scale + 0.5f;
            float c = v > 0.0f ? v : 0.0f;
            c = c < 255.0f ? c : 255.0f;
            const int32_t t = static_cast<int32_t>(c);
            dst[i + j] = static_cast<uint8_t>(v < 2147483648.0f ? t : 0);
        }
    }
    for (; i < count; ++i) dst[i] = floatToByte(src[i], scale);
}

void floatToByteTruncating(const float* __restrict src, uint8_t* __restrict dst, int64_t count, float scale) {
    int64_t i = 0;
    for (; i + kBlock <= count; i += kBlock)
        for (int64_t j = 0; j < kBlock; ++j) dst[i + j] = floatToByteTruncating(src[i + j], scale);
    for (; i < count; ++i) dst[i] = floatToByteTruncating(src[i], scale);
}
