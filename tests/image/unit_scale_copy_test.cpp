#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <tuple>
#include <vector>

#include "image/utils_image_resize_float.h"
#include "image_test_support.h"

namespace {

// Exactly sized pixels (no spare pixel), so that the address sanitizer sees
// any read past the image.
using Pixels = OwnedImage;

// The bits of each value; every NaN as one, since which operand's NaN a sum
// passes on depends on how the compiler orders the operands.
std::vector<uint32_t> bits(const std::vector<float>& values) {
    std::vector<uint32_t> out(values.size());
    for (size_t i = 0; i < values.size(); ++i) {
        const float v = std::isnan(values[i]) ? std::numeric_limits<float>::quiet_NaN() : values[i];
        std::memcpy(&out[i], &v, sizeof v);
    }
    return out;
}

// Ordinary values mixed with the ones a zero weight does not cancel.
void fillMixed(Pixels& p, std::mt19937& rng) {
    const float specials[] = {std::numeric_limits<float>::quiet_NaN(),
                              std::numeric_limits<float>::infinity(),
                              -std::numeric_limits<float>::infinity(),
                              -0.0f,
                              0.0f,
                              std::numeric_limits<float>::denorm_min(),
                              -3.0e38f};
    std::uniform_real_distribution<float> value(-10.0f, 10.0f);
    std::uniform_int_distribution<int> pick(0, 9);
    for (float& v : p.pixels) {
        const int k = pick(rng);
        v = k < 7 ? specials[k] : value(rng);
    }
}

}  // namespace

TEST(UnitScaleCopy, GivesTheBitsOfTheBilinearResizeAtScaleOne) {
    std::mt19937 rng(7);
    const int32_t sizes[][2] = {{1, 1}, {1, 6}, {7, 1}, {2, 2}, {5, 4}, {9, 3}, {17, 5}};
    for (const auto& size : sizes) {
        for (int32_t channels : {1, 2, 3, 4, 5, 8}) {
            SCOPED_TRACE(testing::Message() << size[0] << " x " << size[1] << " x " << channels);
            Pixels src(size[0], size[1], channels, 0.0f);
            fillMixed(src, rng);
            Pixels actual(size[0], size[1], channels, 2.0f);
            ASSERT_TRUE(copyAtUnitScale(src.image, actual.image));
            EXPECT_EQ(bits(actual.pixels), bits(resizeReference(src, size[0], size[1], 1.0f, 1.0f, 0.0f)));
            // The resize takes this form at scale 1 by itself.
            Pixels resized(size[0], size[1], channels, 3.0f);
            resizeBilinear(src.image, resized.image, 1.0f, 1.0f);
            EXPECT_EQ(bits(resized.pixels), bits(actual.pixels));
        }
    }
}

TEST(UnitScaleCopy, NeighboursThatZeroWeightsDoNotCancelReachTheSample) {
    // An infinity to the right of a pixel turns it into NaN, while an
    // infinite pixel with finite neighbours stays infinite; a negative zero
    // next to positive neighbours becomes a positive zero.
    Pixels src(3, 2, 1, 1.0f);
    src.pixels[1] = std::numeric_limits<float>::infinity();  // (1, 0)
    src.pixels[3] = -0.0f;                                   // (0, 1)
    Pixels out(3, 2, 1, 5.0f);
    ASSERT_TRUE(copyAtUnitScale(src.image, out.image));
    EXPECT_TRUE(std::isnan(out.pixels[0]));  // right neighbour infinite
    EXPECT_EQ(out.pixels[1], std::numeric_limits<float>::infinity());
    EXPECT_EQ(out.pixels[2], 1.0f);
    EXPECT_FALSE(std::signbit(out.pixels[3]));
    EXPECT_EQ(out.pixels[4], 1.0f);
    EXPECT_EQ(out.pixels[5], 1.0f);
}

TEST(UnitScaleCopy, LeavesOtherShapesToTheGeneralResize) {
    Pixels src(4, 3, 3, 1.0f);
    for (const auto& [w, h, c] : {std::tuple{5, 3, 3}, std::tuple{4, 2, 3}, std::tuple{4, 3, 1}}) {
        Pixels dest(w, h, c, 9.0f);
        EXPECT_FALSE(copyAtUnitScale(src.image, dest.image));
        EXPECT_EQ(dest.pixels, std::vector<float>(dest.pixels.size(), 9.0f));
    }
    // Past 2^24 a coordinate is no longer exact as a float; nothing is read.
    const ImageFloat wide{(int32_t{1} << 24) + 1, 1, 1, nullptr};
    EXPECT_FALSE(copyAtUnitScale(wide, wide));
    const ImageFloat empty{0, 0, 0, nullptr};
    EXPECT_TRUE(copyAtUnitScale(empty, empty));
}
