#include "image/utils_image_operations.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "image_test_support.h"

namespace {

std::vector<float> addScaledReference(const std::vector<float>& a, const std::vector<float>& b, float k) {
    std::vector<float> out(a.size());
    for (size_t i = 0; i < a.size(); ++i) {
        const float product = k * b[i];
        out[i] = a[i] + product;
    }
    return out;
}

TEST(AddScaledImages, MatchesReferenceForSeparateAndSharedBuffers) {
    std::mt19937 rng(11);
    for (int round = 0; round < 40; ++round) {
        // Sizes around the vector block length, so that tails are exercised.
        const int32_t w = randomInt(rng, 1, 21), h = randomInt(rng, 1, 5);
        const int32_t c = randomInt(rng, 1, 5);
        const float k = std::uniform_real_distribution<float>(-3.0f, 3.0f)(rng);
        OwnedImage a = randomImage(rng, w, h, c), b = randomImage(rng, w, h, c);
        const std::vector<float> expected = addScaledReference(a.pixels, b.pixels, k);

        OwnedImage dest(w, h, c, 7.0f);
        addScaledImages(a.image, b.image, dest.image, k);
        EXPECT_TRUE(sameBits(expected, dest.pixels)) << "separate destination";

        OwnedImage intoA(a);
        addScaledImages(intoA.image, b.image, intoA.image, k);
        EXPECT_TRUE(sameBits(expected, intoA.pixels)) << "destination is imageA";

        OwnedImage intoB(b);
        addScaledImages(a.image, intoB.image, intoB.image, k);
        EXPECT_TRUE(sameBits(expected, intoB.pixels)) << "destination is imageB";
    }
}

TEST(AddScaledImages, MinusOneInPlaceSubtractsAndEmptyImageTouchesNothing) {
    OwnedImage a(2, 1, 2), b(2, 1, 2);
    a.pixels = {5, 6, 7, 8};
    b.pixels = {1, 2, 3, 10};
    a.image.data = a.pixels.data();
    b.image.data = b.pixels.data();
    addScaledImages(a.image, b.image, a.image, -1.0f);
    EXPECT_EQ(a.pixels, (std::vector<float>{4, 4, 4, -2}));

    float untouched[4] = {1, 2, 3, 4};
    const ImageFloat empty{0, 3, 2, untouched};
    addScaledImages(empty, empty, ImageFloat{0, 3, 2, untouched}, 2.0f);
    EXPECT_EQ(untouched[0], 1.0f);
    EXPECT_EQ(untouched[3], 4.0f);
}

TEST(AddScaledChannels, AddsOnlyTheCommonChannels) {
    std::mt19937 rng(12);
    for (int round = 0; round < 30; ++round) {
        const int32_t w = randomInt(rng, 1, 9), h = randomInt(rng, 1, 4);
        const int32_t ca = randomInt(rng, 1, 5), cb = randomInt(rng, 1, 5);
        const float k = std::uniform_real_distribution<float>(-2.0f, 2.0f)(rng);
        OwnedImage a = randomImage(rng, w, h, ca), b = randomImage(rng, w, h, cb);
        OwnedImage dest = randomImage(rng, w, h, ca);
        std::vector<float> expected = dest.pixels;
        for (int64_t p = 0; p < int64_t{w} * h; ++p)
            for (int64_t ch = 0; ch < std::min(ca, cb); ++ch) {
                const float product = k * b.pixels[p * cb + ch];
                expected[p * ca + ch] = a.pixels[p * ca + ch] + product;
            }
        addScaledChannels(a.image, b.image, dest.image, k);
        EXPECT_TRUE(sameBits(expected, dest.pixels)) << ca << " and " << cb << " channels";

        // In place, as the pipelines call it.
        std::vector<float> expectedInPlace = a.pixels;
        for (int64_t p = 0; p < int64_t{w} * h; ++p)
            for (int64_t ch = 0; ch < std::min(ca, cb); ++ch) {
                const float product = k * b.pixels[p * cb + ch];
                expectedInPlace[p * ca + ch] = a.pixels[p * ca + ch] + product;
            }
        addScaledChannels(a.image, b.image, a.image, k);
        EXPECT_TRUE(sameBits(expectedInPlace, a.pixels));
    }
}

TEST(AddScaledChannels, ThreeChannelsMinusOneChannelChangesChannelZeroOnly) {
    OwnedImage a(2, 1, 3), b(2, 1, 1);
    a.pixels = {10, 20, 30, 40, 50, 60};
    b.pixels = {1, 2};
    a.image.data = a.pixels.data();
    b.image.data = b.pixels.data();
    addScaledChannels(a.image, b.image, a.image, -1.0f);
    EXPECT_EQ(a.pixels, (std::vector<float>{9, 20, 30, 38, 50, 60}));
}

TEST(ArgmaxChannels, TiesGoToTheLowestIndex) {
    const float values[] = {0.2f,  0.7f, 0.7f, 0.9f, 0.1f, 0.9f, -1.0f, -0.5f,
                            -0.5f, 0.5f, 0.5f, 0.5f, 0.0f, 0.0f, 3.0f};
    uint8_t out[6];
    std::memset(out, 0xAA, sizeof out);
    argmaxChannels(values, out, 15, 3);
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(out[1], 0);
    EXPECT_EQ(out[2], 1);
    EXPECT_EQ(out[3], 0);
    EXPECT_EQ(out[4], 2);
    EXPECT_EQ(out[5], 0xAA);

    const float pair[] = {0.5f, 0.5f, 0.1f, 0.2f, 9.0f};
    std::memset(out, 0xAA, sizeof out);
    argmaxChannels(pair, out, 5, 2);  // two whole pixels; the fifth value is ignored
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 1);
    EXPECT_EQ(out[2], 0xAA);
}

TEST(ArgmaxChannels, ZeroChannelsOrNullOutputWritesNothing) {
    const float values[] = {1.0f, 2.0f};
    uint8_t out[2] = {0xAA, 0xAA};
    argmaxChannels(values, out, 2, 0);
    argmaxChannels(values, nullptr, 2, 2);
    EXPECT_EQ(out[0], 0xAA);
    EXPECT_EQ(out[1], 0xAA);
}

TEST(ByteConversions, FloatToByteRoundsTruncatesAndClamps) {
    EXPECT_EQ(floatToByte(1.0f, 255.0f), 255);
    EXPECT_EQ(floatToByte(0.998f, 255.0f), 254);
    EXPECT_EQ(floatToByte(0.999f, 255.0f), 255);
    EXPECT_EQ(floatToByte(-0.001f, 255.0f), 0);
    EXPECT_EQ(floatToByte(-1.0f, 255.0f), 0);
    EXPECT_EQ(floatToByte(2.0f, 255.0f), 255);
    EXPECT_EQ(floatToByte(0.5f, 1.0f), 1);
    EXPECT_EQ(floatToByte(0.4999f, 1.0f), 0);
    EXPECT_EQ(floatToByte(254.6f, 1.0f), 255);
    // Values that no 32-bit integer holds.
    EXPECT_EQ(floatToByte(std::numeric_limits<float>::quiet_NaN(), 1.0f), 0);
    EXPECT_EQ(floatToByte(std::numeric_limits<float>::infinity(), 1.0f), 0);
    EXPECT_EQ(floatToByte(-std::numeric_limits<float>::infinity(), 1.0f), 0);
    EXPECT_EQ(floatToByte(3.0e9f, 1.0f), 0);
    EXPECT_EQ(floatToByte(2.0e9f, 1.0f), 255);

    EXPECT_EQ(byteToFloat(7, 0.5f), 3.5f);
}

TEST(ByteConversions, BufferFormGivesTheScalarBytes) {
    std::mt19937 rng(13);
    std::uniform_real_distribution<float> dist(-0.5f, 1.5f);
    std::vector<float> src(1000);
    for (float& v : src) v = dist(rng);
    const float specials[] = {std::numeric_limits<float>::quiet_NaN(),
                              std::numeric_limits<float>::infinity(),
                              -std::numeric_limits<float>::infinity(),
                              1e10f,
                              -1e10f,
                              8.5e6f,
                              2147483520.0f,
                              2147483648.0f,
                              254.5f / 255.0f,
                              0.998f,
                              0.999f,
                              -0.001f,
                              0.0f,
                              -0.0f};
    for (size_t i = 0; i < std::size(specials); ++i) src[i * 37 + 3] = specials[i];

    for (const float scale : {255.0f, 1.0f, 1.0e9f, -255.0f}) {
        // Odd counts and offsets, so that blocks, tails and misaligned starts all run.
        for (const int64_t offset : {0, 1, 3}) {
            const int64_t count = static_cast<int64_t>(src.size()) - offset - 5;
            std::vector<uint8_t> dst(src.size(), 0x5A);
            floatToByte(src.data() + offset, dst.data() + offset, count, scale);
            for (int64_t i = 0; i < static_cast<int64_t>(dst.size()); ++i) {
                const bool inside = i >= offset && i < offset + count;
                const uint8_t expected = inside ? floatToByte(src[i], scale) : uint8_t{0x5A};
                ASSERT_EQ(dst[i], expected) << "element " << i << " value " << src[i] << " scale " << scale;
            }
        }
    }
}

namespace {
// The direct byte run's conversion, written from its definition: the product
// truncated toward zero, what a 32-bit integer cannot hold counted as 0, then
// clamped.
uint8_t truncatingReference(float x, float scale) {
    const float v = x * scale;
    if (!(v > -2147483648.0f && v < 2147483648.0f)) return 0;
    return static_cast<uint8_t>(std::clamp(static_cast<int32_t>(v), 0, 255));
}
}  // namespace

TEST(ByteConversions, TruncatingFormDropsTheFractionAndClamps) {
    EXPECT_EQ(floatToByteTruncating(254.9f, 1.0f), 254);
    EXPECT_EQ(floatToByteTruncating(-3.0f, 1.0f), 0);
    EXPECT_EQ(floatToByteTruncating(300.0f, 1.0f), 255);
    EXPECT_EQ(floatToByteTruncating(0.5f, 255.0f), 127);  // no half added
    EXPECT_EQ(floatToByteTruncating(-0.9f, 1.0f), 0);
    EXPECT_EQ(floatToByteTruncating(std::numeric_limits<float>::quiet_NaN(), 1.0f), 0);
    EXPECT_EQ(floatToByteTruncating(std::numeric_limits<float>::infinity(), 1.0f), 0);
    EXPECT_EQ(floatToByteTruncating(3.0e9f, 1.0f), 0);
    EXPECT_EQ(floatToByteTruncating(2.0e9f, 1.0f), 255);

    std::mt19937 rng(14);
    std::uniform_real_distribution<float> dist(-2.0f, 3.0f);
    std::vector<float> src(997);
    for (float& v : src) v = dist(rng);
    const float specials[] = {std::numeric_limits<float>::quiet_NaN(),
                              -std::numeric_limits<float>::infinity(),
                              2147483520.0f,
                              2147483648.0f,
                              -2147483648.0f,
                              255.99f,
                              256.0f,
                              -0.0f};
    for (size_t i = 0; i < std::size(specials); ++i) src[i * 41 + 5] = specials[i];
    for (const float scale : {1.0f, 255.0f, 1.0e9f, -100.0f}) {
        std::vector<uint8_t> dst(src.size() + 1, 0x5A);
        floatToByteTruncating(src.data(), dst.data(), static_cast<int64_t>(src.size()), scale);
        for (size_t i = 0; i < src.size(); ++i)
            ASSERT_EQ(dst[i], truncatingReference(src[i], scale)) << src[i] << " x " << scale;
        EXPECT_EQ(dst.back(), 0x5A);
    }
}

#ifndef NDEBUG
TEST(ImageOperationsDeathTest, SizeMismatchesFailTheirAssertions) {
    float pixels[32] = {};
    const ImageFloat a{2, 2, 2, pixels}, b{2, 1, 2, pixels}, d{2, 2, 1, pixels};
    EXPECT_DEATH(addScaledImages(a, b, a, 1.0f),
                 "utils_image_operations.*imageA.width == imageB.width && "
                 "imageA.height==imageB.height && imageA.numChannels==imageB.numChannels");
    EXPECT_DEATH(addScaledImages(a, a, d, 1.0f),
                 "utils_image_operations.*imageA.width == destImage.width && "
                 "imageA.height == destImage.height && "
                 "imageA.numChannels == destImage.numChannels");
    EXPECT_DEATH(addScaledChannels(a, b, a, 1.0f),
                 "utils_image_operations.*imageA.width == imageB.width && "
                 "imageA.height == imageB.height");
}
#endif

}  // namespace
