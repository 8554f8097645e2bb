// Resampling to any size: shrinking averages what each pixel covers, growing
// interpolates between centres, and the same size copies.
#include "image/utils_image_resample.h"

#include <gtest/gtest.h>

#include <vector>

TEST(Resample, ShrinksByAreaGrowsLinearlyAndCopiesAtTheSameSize) {
    // One row, 1 channel: 0 10 20 30 40 50.
    std::vector<float> ramp{0, 10, 20, 30, 40, 50};
    const ImageFloat src{6, 1, 1, ramp.data()};

    std::vector<float> half(3 + 1);
    resample(src, ImageFloat{3, 1, 1, half.data()});
    EXPECT_EQ((std::vector<float>(half.begin(), half.begin() + 3)), (std::vector<float>{5, 25, 45}));

    // 6 to 4: each covers 1.5 pixels.
    std::vector<float> four(4 + 1);
    resample(src, ImageFloat{4, 1, 1, four.data()});
    EXPECT_FLOAT_EQ(four[0], (0 + 0.5f * 10) / 1.5f);
    EXPECT_FLOAT_EQ(four[1], (0.5f * 10 + 20) / 1.5f);

    // 6 to 12: centres at (d + 0.5) / 2 - 0.5; the ends repeat the edge.
    std::vector<float> doubled(12 + 1);
    resample(src, ImageFloat{12, 1, 1, doubled.data()});
    EXPECT_FLOAT_EQ(doubled[0], 0.0f);
    EXPECT_FLOAT_EQ(doubled[1], 2.5f);
    EXPECT_FLOAT_EQ(doubled[2], 7.5f);
    EXPECT_FLOAT_EQ(doubled[11], 50.0f);

    std::vector<float> same(6 + 1);
    resample(src, ImageFloat{6, 1, 1, same.data()});
    EXPECT_EQ((std::vector<float>(same.begin(), same.begin() + 6)), ramp);
}

TEST(Resample, EachAxisOnItsOwnAndEveryChannel) {
    // 2 x 2, 2 channels, shrunk to 1 x 1 and grown to 4 x 1.
    std::vector<float> px{0, 100, 2, 102, 4, 104, 6, 106};
    const ImageFloat src{2, 2, 2, px.data()};
    std::vector<float> one(2 * 2);
    resample(src, ImageFloat{1, 1, 2, one.data()});
    EXPECT_FLOAT_EQ(one[0], 3.0f);
    EXPECT_FLOAT_EQ(one[1], 103.0f);
    std::vector<float> wide(4 * 2 + 2);
    resample(src, ImageFloat{4, 1, 2, wide.data()});
    EXPECT_FLOAT_EQ(wide[0], 2.0f);      // the column average at the left edge
    EXPECT_FLOAT_EQ(wide[1 * 2], 2.5f);  // a quarter of the way from 2 to 4
    EXPECT_FLOAT_EQ(wide[3 * 2 + 1], 104.0f);
}
