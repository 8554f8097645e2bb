#include "image/utils_image_resize_float.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "image_test_support.h"

namespace {

// ---- Plain references, written straight from the formulas ----------------

std::vector<float> boxReference(const OwnedImage& src, int32_t dw, int32_t dh, int32_t K) {
    const int32_t c = src.image.numChannels;
    const float weight = (1.0f / static_cast<float>(K)) / static_cast<float>(K);
    std::vector<float> out(static_cast<size_t>(dw) * dh * c);
    for (int32_t y = 0; y < dh; ++y)
        for (int32_t x = 0; x < dw; ++x)
            for (int32_t ch = 0; ch < c; ++ch) {
                float sum = 0.0f;
                for (int32_t j = 0; j < K; ++j)
                    for (int32_t i = 0; i < K; ++i)
                        sum += src.at(std::min(K * x + i, src.image.width - 1),
                                      std::min(K * y + j, src.image.height - 1), ch);
                out[(static_cast<size_t>(y) * dw + x) * c + ch] = sum * weight;
            }
    return out;
}

// ---- Box averages ---------------------------------------------------------

TEST(DownsampleBox, AveragesBlocks) {
    OwnedImage src(4, 2, 1);
    src.pixels = {1, 2, 3, 4, 5, 6, 7, 8};
    src.image.data = src.pixels.data();
    OwnedImage dest(2, 1, 1);
    downsampleBox(src.image, dest.image, 2);
    EXPECT_EQ(dest.pixels, (std::vector<float>{3.5f, 5.5f}));
}

TEST(DownsampleBox, MatchesReferenceBitForBit) {
    std::mt19937 rng(31);
    for (int round = 0; round < 120; ++round) {
        const int32_t K = randomInt(rng, 2, 5), c = randomInt(rng, 1, 5);
        const int32_t dw = randomInt(rng, 1, 13), dh = randomInt(rng, 1, 9);
        const OwnedImage src = randomImage(rng, dw * K, dh * K, c);
        OwnedImage dest(dw, dh, c, -1.0f);
        downsampleBox(src.image, dest.image, K);
        ASSERT_TRUE(sameBits(boxReference(src, dw, dh, K), dest.pixels)) << dw << "x" << dh << "x" << c << " K " << K;
    }
}

TEST(DownsampleBoxClamped, RepeatsLastRowAndColumn) {
    OwnedImage src(3, 3, 1);
    src.pixels = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    src.image.data = src.pixels.data();
    OwnedImage one(1, 1, 1);
    downsampleBoxClamped(src.image, one.image, 2);
    EXPECT_EQ(one.pixels[0], 3.0f);  // (1 + 2 + 4 + 5) / 4
    OwnedImage two(2, 2, 1);
    downsampleBoxClamped(src.image, two.image, 2);
    EXPECT_EQ(two.pixels, (std::vector<float>{3.0f, 4.5f, 7.5f, 9.0f}));
}

TEST(DownsampleBoxClamped, MatchesReferenceForAnyDestinationSize) {
    std::mt19937 rng(32);
    for (int round = 0; round < 200; ++round) {
        const int32_t K = randomInt(rng, 2, 5), c = randomInt(rng, 1, 5);
        const int32_t sw = randomInt(rng, 1, 40), sh = randomInt(rng, 1, 30);
        // Rounded down, rounded up, or anything smaller.
        const int32_t dw = randomInt(rng, 1, (sw + K - 1) / K), dh = randomInt(rng, 1, (sh + K - 1) / K);
        const OwnedImage src = randomImage(rng, sw, sh, c);
        OwnedImage dest(dw, dh, c, -1.0f);
        downsampleBoxClamped(src.image, dest.image, K);
        ASSERT_TRUE(sameBits(boxReference(src, dw, dh, K), dest.pixels))
            << sw << "x" << sh << "x" << c << " into " << dw << "x" << dh << " K " << K;
    }
}

TEST(DownsampleBoxClamped, LargeFactorMatchesReference) {
    std::mt19937 rng(33);
    const OwnedImage src = randomImage(rng, 150, 140, 2);
    OwnedImage dest(2, 2, 2);
    downsampleBoxClamped(src.image, dest.image, 70);
    EXPECT_TRUE(sameBits(boxReference(src, 2, 2, 70), dest.pixels));
}

// ---- Bilinear sampling ----------------------------------------------------

TEST(ResizeBilinear, DoublesAndReplicatesTheRightEdge) {
    OwnedImage src(2, 1, 1);
    src.pixels = {0, 10};
    src.image.data = src.pixels.data();
    OwnedImage dest(4, 1, 1);
    resizeBilinear(src.image, dest.image, 1.0f / 2, 1.0f / 2);
    EXPECT_EQ(dest.pixels, (std::vector<float>{0, 5, 10, 10}));
}

TEST(ResizeBilinear, ScaleOneCopies) {
    std::mt19937 rng(34);
    const OwnedImage src = randomImage(rng, 7, 5, 3);
    OwnedImage dest(7, 5, 3);
    resizeBilinear(src.image, dest.image, 1.0f, 1.0f);
    EXPECT_TRUE(sameBits(src.pixels, dest.pixels));
}

TEST(ResizeBilinear, MatchesReferenceBitForBit) {
    std::mt19937 rng(35);
    for (int round = 0; round < 200; ++round) {
        const int32_t c = randomInt(rng, 1, 5);
        const int32_t sw = randomInt(rng, 1, 30), sh = randomInt(rng, 1, 30);
        const int32_t dw = randomInt(rng, 1, 70), dh = randomInt(rng, 1, 70);
        float scaleX, scaleY;
        if (round % 2 == 0) {  // as the pipelines enlarge: 1/K
            const int32_t K = randomInt(rng, 1, 5);
            scaleX = scaleY = 1.0f / static_cast<float>(K);
        } else {  // any scale, sampling inside or past the edges
            scaleX = std::uniform_real_distribution<float>(0.0f, 3.0f)(rng);
            scaleY = std::uniform_real_distribution<float>(0.0f, 3.0f)(rng);
        }
        const OwnedImage src = randomImage(rng, sw, sh, c);
        OwnedImage dest(dw, dh, c, -1.0f);
        resizeBilinear(src.image, dest.image, scaleX, scaleY);
        ASSERT_TRUE(sameBits(resizeReference(src, dw, dh, scaleX, scaleY, 0.0f), dest.pixels))
            << sw << "x" << sh << "x" << c << " to " << dw << "x" << dh << " scales " << scaleX << ", " << scaleY;
    }
}

TEST(ResizeBilinear, FourChannelPathGivesTheGeneralPathsBits) {
    // The first four channels of a 5-channel image take the general path.
    std::mt19937 rng(36);
    for (int round = 0; round < 20; ++round) {
        const int32_t sw = randomInt(rng, 1, 40), sh = randomInt(rng, 1, 40);
        const int32_t dw = randomInt(rng, 1, 90), dh = randomInt(rng, 1, 90);
        const float scale = round % 2 ? 1.0f / static_cast<float>(randomInt(rng, 2, 5))
                                      : std::uniform_real_distribution<float>(0.1f, 2.0f)(rng);
        const OwnedImage five = randomImage(rng, sw, sh, 5);
        OwnedImage four(sw, sh, 4);
        for (int64_t p = 0; p < int64_t{sw} * sh; ++p)
            for (int ch = 0; ch < 4; ++ch) four.pixels[p * 4 + ch] = five.pixels[p * 5 + ch];
        OwnedImage outFive(dw, dh, 5), outFour(dw, dh, 4);
        resizeBilinear(five.image, outFive.image, scale, scale);
        resizeBilinear(four.image, outFour.image, scale, scale);
        std::vector<float> firstFour;
        for (int64_t p = 0; p < int64_t{dw} * dh; ++p)
            for (int ch = 0; ch < 4; ++ch) firstFour.push_back(outFive.pixels[p * 5 + ch]);
        ASSERT_TRUE(sameBits(firstFour, outFour.pixels));
    }
}

TEST(UpsampleBilinearShifted, ExtrapolatesTheFirstRowButCopiesTheFirstColumn) {
    OwnedImage column(1, 2, 1);
    column.pixels = {0, 10};
    column.image.data = column.pixels.data();
    OwnedImage tall(1, 4, 1);
    upsampleBilinearShifted(column.image, tall.image, 0.5f, 0.5f);
    EXPECT_EQ(tall.pixels, (std::vector<float>{-2.5f, 2.5f, 7.5f, 10.0f}));

    OwnedImage row(2, 1, 1);
    row.pixels = {0, 10};
    row.image.data = row.pixels.data();
    OwnedImage wide(4, 1, 1);
    upsampleBilinearShifted(row.image, wide.image, 0.5f, 0.5f);
    EXPECT_EQ(wide.pixels, (std::vector<float>{0.0f, 2.5f, 7.5f, 10.0f}));
}

TEST(UpsampleBilinearShifted, MatchesReferenceBitForBit) {
    std::mt19937 rng(37);
    for (int round = 0; round < 150; ++round) {
        const int32_t c = randomInt(rng, 1, 5), K = randomInt(rng, 2, 5);
        const int32_t sw = randomInt(rng, 1, 20), sh = randomInt(rng, 1, 20);
        const float scale = 1.0f / static_cast<float>(K);
        // Exactly K times larger, or a little more or less.
        const int32_t dw = std::max(1, sw * K + randomInt(rng, -2, 2));
        const int32_t dh = std::max(1, sh * K + randomInt(rng, -2, 2));
        const OwnedImage src = randomImage(rng, sw, sh, c);
        OwnedImage dest(dw, dh, c, -1.0f);
        upsampleBilinearShifted(src.image, dest.image, scale, scale);
        ASSERT_TRUE(sameBits(resizeReference(src, dw, dh, scale, scale, 0.25f), dest.pixels))
            << sw << "x" << sh << "x" << c << " K " << K;
    }
}

// ---- Detail transfer ------------------------------------------------------

TEST(TransferDetail, MatchesReferenceAndLeavesExtraChannels) {
    std::mt19937 rng(38);
    for (int round = 0; round < 120; ++round) {
        const int32_t K = randomInt(rng, 2, 5);
        const int32_t cs = randomInt(rng, 1, 5), cl = randomInt(rng, 1, 5);
        const int32_t cr = std::max(cs, cl) + randomInt(rng, 0, 1);
        const int32_t lw = randomInt(rng, 1, 12), lh = randomInt(rng, 1, 12);
        const int32_t w = lw * K + randomInt(rng, 0, K - 1), h = lh * K + randomInt(rng, 0, K - 1);
        const OwnedImage low = randomImage(rng, lw, lh, cl);
        const OwnedImage reference = randomImage(rng, w, h, cr);
        const OwnedImage srcFull = randomImage(rng, w, h, cs);
        OwnedImage target = randomImage(rng, w, h, cs);

        const float invK = 1.0f / static_cast<float>(K);
        std::vector<float> expected = target.pixels;
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x)
                for (int32_t ch = 0; ch < std::min(cs, cl); ++ch) {
                    const float sample =
                        sampleReference(low, static_cast<float>(x) * invK, static_cast<float>(y) * invK, ch);
                    const float detail = reference.at(x, y, ch) - sample;
                    expected[(static_cast<size_t>(y) * w + x) * cs + ch] = detail + srcFull.at(x, y, ch);
                }
        transferDetail(srcFull.image, target.image, reference.image, low.image, K);
        ASSERT_TRUE(sameBits(expected, target.pixels)) << "separate target, K " << K;

        OwnedImage inPlace(srcFull);
        transferDetail(inPlace.image, inPlace.image, reference.image, low.image, K);
        std::vector<float> expectedInPlace = srcFull.pixels;
        for (int64_t p = 0; p < int64_t{w} * h; ++p)
            for (int32_t ch = 0; ch < std::min(cs, cl); ++ch) expectedInPlace[p * cs + ch] = expected[p * cs + ch];
        ASSERT_TRUE(sameBits(expectedInPlace, inPlace.pixels)) << "in place, K " << K;
    }
}

TEST(TransferDetail, UnchangedModelGivesBackTheInput) {
    // Shrink, enlarge (the model's output when it changes nothing), transfer:
    // the input comes back up to rounding.
    std::mt19937 rng(39);
    const int32_t K = 3;
    const OwnedImage input = randomImage(rng, 31, 20, 3);
    OwnedImage low(31 / K, 20 / K, 3);
    downsampleBoxClamped(input.image, low.image, K);
    OwnedImage full(31, 20, 3);
    resizeBilinear(low.image, full.image, 1.0f / K, 1.0f / K);
    transferDetail(full.image, full.image, input.image, low.image, K);
    for (size_t i = 0; i < input.pixels.size(); ++i)
        ASSERT_NEAR(full.pixels[i], input.pixels[i], 1e-4f) << "element " << i;
}

// ---- 64-bit offsets -------------------------------------------------------

// A source row of more than 2^24 pixels takes the path without the column table.
TEST(ResizeBilinear, SourceWiderThanTwoToThe24Pixels) {
    const int32_t wide = (1 << 24) + 3;
    OwnedImage src(wide, 2, 1);
    for (int64_t x = 0; x < wide; ++x) {
        src.pixels[x] = static_cast<float>(x % 1000);
        src.pixels[wide + x] = static_cast<float>(x % 777);
    }
    const float scale = 4194304.5f;  // 2^22 + 1/2: columns 0, 2^22 + 1/2, ..., past the end
    OwnedImage dest(6, 3, 1, -1.0f), shifted(6, 3, 1, -1.0f);
    resizeBilinear(src.image, dest.image, scale, 0.5f);
    EXPECT_TRUE(sameBits(resizeReference(src, 6, 3, scale, 0.5f, 0.0f), dest.pixels));
    upsampleBilinearShifted(src.image, shifted.image, scale, 0.5f);
    EXPECT_TRUE(sameBits(resizeReference(src, 6, 3, scale, 0.5f, 0.25f), shifted.pixels));

    // And as the reduced image of a detail transfer.
    std::mt19937 rng(40);
    const OwnedImage full = randomImage(rng, 5, 3, 1), reference = randomImage(rng, 5, 3, 1);
    OwnedImage target(5, 3, 1);
    transferDetail(full.image, target.image, reference.image, src.image, 2);
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 5; ++x) {
            const float sample = sampleReference(src, x * 0.5f, y * 0.5f, 0);
            const float expected = reference.at(x, y, 0) - sample + full.at(x, y, 0);
            EXPECT_EQ(target.at(x, y, 0), expected) << x << ", " << y;
        }
}

TEST(ResizeBilinear, SamplesRowsBeyondTwoToThe31Elements) {
    const ImageFloat& big = hugeFloatImage();
    if (big.data == nullptr) GTEST_SKIP() << "not enough memory for an image of 2^31 + 2^16 pixels";
    const int64_t lastRow = int64_t{32768} * 65536;
    big.data[0] = 1.0f;
    big.data[1] = 3.0f;
    big.data[65536] = big.data[65537] = 0.0f;  // row 1, weighted by 0
    big.data[lastRow] = 5.0f;
    big.data[lastRow + 1] = 7.0f;
    OwnedImage dest(2, 2, 1);
    // Row 1 of dest samples row 32768.5 (clamped to the last), column 1 samples 0.5.
    resizeBilinear(big, dest.image, 0.5f, 32768.5f);
    EXPECT_EQ(dest.pixels, (std::vector<float>{1.0f, 2.0f, 5.0f, 6.0f}));
}

#ifndef NDEBUG
TEST(ResizeFloatDeathTest, PreconditionsFailTheirAssertions) {
    float a[64] = {}, b[64] = {};
    EXPECT_DEATH(downsampleBox(ImageFloat{4, 4, 1, a}, ImageFloat{3, 2, 1, b}, 2),
                 "utils_image_resize_float.*dest.width \\* downsamplingK == src.width");
    EXPECT_DEATH(downsampleBox(ImageFloat{4, 4, 1, a}, ImageFloat{2, 1, 1, b}, 2),
                 "utils_image_resize_float.*dest.height \\* downsamplingK == src.height");
    EXPECT_DEATH(downsampleBox(ImageFloat{4, 4, 1, a}, ImageFloat{2, 2, 1, nullptr}, 2),
                 "utils_image_resize_float.*dest.data != nullptr");
    EXPECT_DEATH(resizeBilinear(ImageFloat{2, 2, 1, a}, ImageFloat{2, 2, 3, b}, 1.0f, 1.0f),
                 "utils_image_resize_float.*src.numChannels == dest.numChannels");
    const ImageFloat full{4, 4, 1, a}, low{2, 2, 1, b};
    EXPECT_DEATH(transferDetail(full, ImageFloat{3, 4, 1, a}, full, low, 2),
                 "utils_image_resize_float.*src_full_scale.width == target_full_scale.width");
    EXPECT_DEATH(transferDetail(full, ImageFloat{4, 3, 1, a}, full, low, 2),
                 "utils_image_resize_float.*src_full_scale.height == target_full_scale.height");
    EXPECT_DEATH(transferDetail(full, ImageFloat{4, 4, 2, a}, full, low, 2),
                 "utils_image_resize_float.*"
                 "src_full_scale.numChannels == target_full_scale.numChannels");
}
#endif

}  // namespace
