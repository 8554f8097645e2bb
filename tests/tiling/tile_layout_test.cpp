// Reading a model's layout, open sizes and scale from its shapes.
#include "tiling/tile_layout.h"

#include <gtest/gtest.h>

namespace {
constexpr int64_t kOpen = -1;
using Dims = std::vector<int64_t>;
}  // namespace

TEST(TileLayout, TheInputsShapeTellsTheLayoutAndFillsOpenSizes) {
    struct Case {
        Dims declared;
        int64_t side, channels;
        int32_t code;
        Layout layout;
        Dims dims;
    };
    const Case cases[] = {
        {{1, 3, 16, 16}, 16, 3, 1, Layout::ChannelsFirst, {1, 3, 16, 16}},  // the code cannot overrule the shape
        {{1, 16, 16, 3}, 16, 3, 0, Layout::ChannelsLast, {1, 16, 16, 3}},
        {{kOpen, 3, kOpen, kOpen}, 256, 3, 1, Layout::ChannelsFirst, {1, 3, 256, 256}},
        {{kOpen, kOpen, kOpen, 3}, 64, 3, 0, Layout::ChannelsLast, {1, 64, 64, 3}},
        {{1, kOpen, 64, 64}, 64, 5, 1, Layout::ChannelsFirst, {1, 5, 64, 64}},
        // The shape cannot tell: the code decides.
        {{kOpen, kOpen, kOpen, kOpen}, 32, 3, 0, Layout::ChannelsFirst, {1, 3, 32, 32}},
        {{kOpen, kOpen, kOpen, kOpen}, 32, 3, 1, Layout::ChannelsLast, {1, 32, 32, 3}},
        {{1, 16, 16, 16}, 16, 16, 0, Layout::ChannelsFirst, {1, 16, 16, 16}},
        {{1, 16, 16, 16}, 16, 16, 7, Layout::ChannelsLast, {1, 16, 16, 16}},
        // Both readings fit a 3-pixel tile of 3 channels, but only one has
        // the open or equal sides of an image.
        {{1, 3, kOpen, kOpen}, 3, 3, 1, Layout::ChannelsFirst, {1, 3, 3, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(shapeText(c.declared) + " code " + std::to_string(c.code));
        const Expected<TileInput> input = tileInput(c.declared, c.side, c.channels, c.code);
        ASSERT_TRUE(input) << input.message();
        EXPECT_EQ(input->layout, c.layout);
        EXPECT_EQ(input->dims, c.dims);
    }
}

TEST(TileLayout, WhatDoesNotFitTheInputIsNamed) {
    struct Case {
        Dims declared;
        int64_t side, channels;
        const char* words;
    };
    const Case cases[] = {
        {{1, 3, 32, 32}, 16, 3, "takes 32 x 32 tiles, not 16 x 16"},
        {{1, 32, 32, 3}, 16, 3, "takes 32 x 32 tiles, not 16 x 16"},
        {{1, 16, 16, 3}, 16, 4, "takes 3 channels, the image has 4"},
        {{kOpen, 3, kOpen, kOpen}, 256, 4, "takes 3 channels, the image has 4"},
        {{1, 3, 32, 32}, 16, 4, "takes 32 x 32 tiles, not 16 x 16; it takes 3 channels, the image has 4"},
        {{1, 3, kOpen, 32}, 16, 3, "takes 32 x ? tiles, not 16 x 16"},
        {{2, 3, 16, 16}, 16, 3, "takes batches of 2 inputs, not one tile at a time"},
        {{3, 16, 16}, 16, 3, "takes inputs of shape [3, 16, 16], not tiles of shape [1, C, H, W] or [1, H, W, C]"},
    };
    for (const Case& c : cases) {
        const Expected<TileInput> input = tileInput(c.declared, c.side, c.channels, 1);
        ASSERT_FALSE(input) << shapeText(c.declared);
        EXPECT_EQ(input.message(), c.words);
    }
}

TEST(TileLayout, ResultsAreReadFromTheirOwnShape) {
    struct Case {
        Dims dims, declared;
        int32_t code;
        Layout layout;
        int64_t width, height, channels;
    };
    const Case cases[] = {
        {{1, 3, 32, 32}, {1, 3, 32, 32}, 1, Layout::ChannelsFirst, 32, 32, 3},
        {{1, 48, 48, 3}, {kOpen, kOpen, kOpen, 3}, 0, Layout::ChannelsLast, 48, 48, 3},
        {{1, 1, 16, 16}, {kOpen, 1, kOpen, kOpen}, 1, Layout::ChannelsFirst, 16, 16, 1},
        {{1, 16, 16, 0}, {1, 16, 16, 0}, 1, Layout::ChannelsLast, 16, 16, 0},
        {{1, 256, 256, 256}, {kOpen, 256, kOpen, kOpen}, 1, Layout::ChannelsFirst, 256, 256, 256},
        {{1, 16, 16, 16}, {1, 16, 16, 16}, 0, Layout::ChannelsFirst, 16, 16, 16},
        {{1, 16, 16, 16}, {1, 16, 16, 16}, 1, Layout::ChannelsLast, 16, 16, 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(shapeText(c.dims));
        const Expected<TileOutput> output = tileOutput(c.dims, c.declared, 16, c.code);
        ASSERT_TRUE(output) << output.message();
        EXPECT_EQ(output->layout, c.layout);
        EXPECT_EQ(output->width, c.width);
        EXPECT_EQ(output->height, c.height);
        EXPECT_EQ(output->channels, c.channels);
    }
    const std::pair<Dims, const char*> refused[] = {
        {{1, 3, 24, 24}, "returned a 24 x 24 result for a 16 x 16 tile"},
        {{1, 3, 32, 48}, "returned a 48 x 32 result for a 16 x 16 tile"},
        {{1, 3, 8, 8}, "returned a 8 x 8 result for a 16 x 16 tile"},
        {{1, 3, 272, 272}, "returned a 272 x 272 result for a 16 x 16 tile"},  // 17 times
        {{2, 3, 16, 16}, "returned 2 results for one tile"},
        {{16, 16}, "returned a [16, 16] result for a 16 x 16 tile"},
    };
    for (const auto& [dims, words] : refused) {
        const Expected<TileOutput> output = tileOutput(dims, Dims(dims.size(), kOpen), 16, 0);
        ASSERT_FALSE(output) << shapeText(dims);
        EXPECT_EQ(output.message(), words);
    }
}

TEST(TileLayout, DeclaredOutputsForetellScaleAndChannelsWhereFixed) {
    struct Case {
        Dims declared;
        int64_t scale, channels;
    };
    const Case cases[] = {
        {{kOpen, 1, kOpen, kOpen}, 0, 1},
        {{1, 3, 64, 64}, 4, 3},
        {{1, 32, 32, 3}, 2, 3},
        {{1, kOpen, 16, 16}, 1, 0},
        {{kOpen, kOpen, kOpen, kOpen}, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(shapeText(c.declared));
        const Expected<TileForecast> forecast = tileForecast(c.declared, 16, 1);
        ASSERT_TRUE(forecast) << forecast.message();
        EXPECT_EQ(forecast->scale, c.scale);
        EXPECT_EQ(forecast->channels, c.channels);
    }
    const Expected<TileForecast> uneven = tileForecast({1, 3, 24, 24}, 16, 0);
    ASSERT_FALSE(uneven);
    EXPECT_EQ(uneven.message(), "returns a 24 x 24 result for a 16 x 16 tile");
    EXPECT_FALSE(tileForecast({1, 3, 32, 48}, 16, 0));
    EXPECT_FALSE(tileForecast({10}, 16, 0));
}

TEST(TileLayout, DirectRunsFillOpenSizesFromTheCallersSizes) {
    EXPECT_EQ(directInputDims({1, kOpen, kOpen, 3}, 20, 10, 3, 1), (Dims{1, 10, 20, 3}));
    EXPECT_EQ(directInputDims({kOpen, 3, kOpen, kOpen}, 20, 10, 3, 1), (Dims{1, 3, 10, 20}));
    EXPECT_EQ(directInputDims({kOpen, kOpen, kOpen, kOpen}, 20, 10, 3, 0), (Dims{1, 3, 10, 20}));
    EXPECT_EQ(directInputDims({3, kOpen, kOpen}, 20, 10, 3, 1), (Dims{3, 10, 20}));
    EXPECT_EQ(directInputDims({kOpen, kOpen}, 20, 10, 3, 1), (Dims{10, 20}));
    EXPECT_EQ(directInputDims({kOpen}, 20, 10, 3, 1), (Dims{600}));
    EXPECT_EQ(directInputDims({1, 64, 64, 3}, 20, 10, 3, 1), (Dims{1, 64, 64, 3}));  // fixed stays fixed
    EXPECT_EQ(directInputDims({kOpen, kOpen, kOpen, 3}, 0, -5, 3, 1), (Dims{1, 1, 1, 3}));
}
