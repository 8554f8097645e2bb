// Random images and comparisons shared by the image utility tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "image/image_records.h"

// An ImageFloat that owns its pixels, with the library's one-spare-pixel rule
// left out on purpose so that reads or writes past the image show up under
// the address sanitizer.
struct OwnedImage {
    std::vector<float> pixels;
    ImageFloat image{0, 0, 0, nullptr};

    OwnedImage() = default;
    OwnedImage(int32_t width, int32_t height, int32_t channels, float fill = 0.0f)
        : pixels(static_cast<size_t>(width) * height * channels, fill), image{width, height, channels, nullptr} {
        image.data = pixels.data();
    }
    OwnedImage(const OwnedImage& other) : pixels(other.pixels), image(other.image) { image.data = pixels.data(); }
    OwnedImage& operator=(const OwnedImage&) = delete;

    float& at(int64_t x, int64_t y, int64_t ch) {
        return pixels[static_cast<size_t>((y * image.width + x) * image.numChannels + ch)];
    }
    float at(int64_t x, int64_t y, int64_t ch) const {
        return pixels[static_cast<size_t>((y * image.width + x) * image.numChannels + ch)];
    }
};

inline void fillRandom(OwnedImage& img, std::mt19937& rng, float lo = -100.0f, float hi = 100.0f) {
    std::uniform_real_distribution<float> dist(lo, hi);
    for (float& v : img.pixels) v = dist(rng);
}

inline OwnedImage randomImage(std::mt19937& rng, int32_t width, int32_t height, int32_t channels) {
    OwnedImage img(width, height, channels);
    fillRandom(img, rng);
    return img;
}

inline int32_t randomInt(std::mt19937& rng, int32_t lo, int32_t hi) {
    return std::uniform_int_distribution<int32_t>(lo, hi)(rng);
}

// The bilinear sample and resize, written straight from the formulas.
inline float sampleReference(const OwnedImage& src, float sx, float sy, int32_t ch) {
    const int64_t w = src.image.width, h = src.image.height;
    int64_t fy0 = static_cast<int64_t>(std::floor(sy));
    if (fy0 < 0) fy0 = 0;
    const int64_t y0 = std::min(fy0, h - 1), y1 = std::min(fy0 + 1, h - 1);
    const float ty = sy - static_cast<float>(fy0);
    const int64_t fx0 = static_cast<int64_t>(std::floor(sx));
    const int64_t x0 = std::min(std::max<int64_t>(fx0, 0), w - 1);
    const int64_t x1 = std::min(fx0 + 1, w - 1);
    const float tx = sx - static_cast<float>(fx0);
    float v = (1 - tx) * (1 - ty) * src.at(x0, y0, ch);
    v += (1 - tx) * ty * src.at(x0, y1, ch);
    v += tx * (1 - ty) * src.at(x1, y0, ch);
    v += tx * ty * src.at(x1, y1, ch);
    return v;
}

inline std::vector<float> resizeReference(const OwnedImage& src, int32_t dw, int32_t dh, float scaleX, float scaleY,
                                          float shift) {
    const int32_t c = src.image.numChannels;
    std::vector<float> out(static_cast<size_t>(dw) * dh * c);
    for (int32_t y = 0; y < dh; ++y)
        for (int32_t x = 0; x < dw; ++x) {
            float sx = static_cast<float>(x) * scaleX, sy = static_cast<float>(y) * scaleY;
            if (shift != 0.0f) {
                sx -= shift;
                sy -= shift;
            }
            for (int32_t ch = 0; ch < c; ++ch)
                out[(static_cast<size_t>(y) * dw + x) * c + ch] = sampleReference(src, sx, sy, ch);
        }
    return out;
}

// Bit-for-bit equality of two float buffers, reporting the first difference.
inline ::testing::AssertionResult sameBits(const std::vector<float>& expected, const std::vector<float>& actual) {
    if (expected.size() != actual.size())
        return ::testing::AssertionFailure() << "sizes " << expected.size() << " and " << actual.size();
    for (size_t i = 0; i < expected.size(); ++i) {
        if (std::memcmp(&expected[i], &actual[i], sizeof(float)) != 0)
            return ::testing::AssertionFailure()
                   << "element " << i << ": expected " << expected[i] << ", got " << actual[i];
    }
    return ::testing::AssertionSuccess();
}

// A 1-channel float image of 65536 x 32769 pixels (2^31 + 2^16 elements) for
// checking 64-bit index arithmetic, or an empty record if memory runs short.
// Only the pixels a test writes are ever touched, so it costs address space,
// not memory. Made once for the whole run, since allocating 8 GiB takes
// seconds under the address sanitizer; freed at exit, before the leak check
// would scan it.
inline const ImageFloat& hugeFloatImage() {
    struct Holder {
        ImageFloat image{0, 0, 0, nullptr};
        Holder() { ensureImage(image, 65536, 32769, 1); }
        ~Holder() { releaseImage(image); }
    };
    static Holder holder;
    return holder.image;
}
