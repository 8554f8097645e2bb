// Random images and comparisons shared by the image utility tests.
#pragma once

#include <gtest/gtest.h>

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
        : pixels(static_cast<size_t>(width) * height * channels, fill),
          image{width, height, channels, nullptr} {
        image.data = pixels.data();
    }
    OwnedImage(const OwnedImage& other) : pixels(other.pixels), image(other.image) {
        image.data = pixels.data();
    }
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

// Bit-for-bit equality of two float buffers, reporting the first difference.
inline ::testing::AssertionResult sameBits(const std::vector<float>& expected,
                                           const std::vector<float>& actual) {
    if (expected.size() != actual.size())
        return ::testing::AssertionFailure()
               << "sizes " << expected.size() << " and " << actual.size();
    for (size_t i = 0; i < expected.size(); ++i) {
        if (std::memcmp(&expected[i], &actual[i], sizeof(float)) != 0)
            return ::testing::AssertionFailure() << "element " << i << ": expected "
                                                 << expected[i] << ", got " << actual[i];
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
