#include <gtest/gtest.h>

#include <cstdint>
#include <utility>

#include "image/image_records.h"

TEST(ImageBuffer, KeepsItsPixelsWhenTheSizesMatchAndOnlyThen) {
    ImageBuffer<ImageFloat> image;
    EXPECT_TRUE(image.empty());
    EXPECT_EQ(image.view().data, nullptr);

    ASSERT_TRUE(image.resize(3, 2, 4));
    const ImageFloat first = image.view();
    EXPECT_EQ(first.width, 3);
    EXPECT_EQ(first.height, 2);
    EXPECT_EQ(first.numChannels, 4);
    // Every element of w x h x c plus the spare pixel is there to be written.
    for (int i = 0; i < 4 * (3 * 2 + 1); ++i) first.data[i] = static_cast<float>(i);

    ASSERT_TRUE(image.resize(3, 2, 4));
    EXPECT_EQ(image.view().data, first.data);
    EXPECT_EQ(image.view().data[4 * 7 - 1], 27.0f);

    ASSERT_TRUE(image.resize(2, 3, 4));  // as many pixels, other sizes
    EXPECT_EQ(image.view().width, 2);
    EXPECT_EQ(image.view().height, 3);

    image.reset();
    EXPECT_TRUE(image.empty());
    EXPECT_EQ(image.view().width, 0);
    EXPECT_EQ(image.view().numChannels, 0);
}

TEST(ImageBuffer, ReportsWhatCannotBeHadAndIsLeftEmpty) {
    ImageBuffer<ImageByte> bytes;
    ASSERT_TRUE(bytes.resize(4, 4, 3));
    // Negative sizes, sizes whose byte count overflows 64 bits, and an
    // addressable buffer no machine has: false, nothing thrown, nothing kept.
    EXPECT_FALSE(bytes.resize(-1, 4, 3));
    EXPECT_TRUE(bytes.empty());
    EXPECT_EQ(bytes.view().width, 0);

    ImageBuffer<ImageFloat> floats;
    EXPECT_FALSE(floats.resize(INT32_MAX, INT32_MAX, INT32_MAX));
    EXPECT_FALSE(floats.resize(int32_t{1} << 29, int32_t{1} << 29, 1));
    EXPECT_TRUE(floats.empty());
    EXPECT_EQ(floats.view().data, nullptr);
    ASSERT_TRUE(floats.resize(1, 1, 1));  // and it is usable again
    floats.view().data[1] = 1.0f;
}

TEST(ImageBuffer, MovesItsPixels) {
    ImageBuffer<ImageFloat> from;
    ASSERT_TRUE(from.resize(5, 1, 1));
    const float* pixels = from.view().data;
    ImageBuffer<ImageFloat> to = std::move(from);
    EXPECT_EQ(to.view().data, pixels);
    EXPECT_EQ(to.view().width, 5);
}
