// What a model's declared shapes say of its tiles before any run, and how
// results are read: the first fixes the layout and scale that later ones
// are held to.
#include "tiling/model_tiles.h"

#include <gtest/gtest.h>

namespace {

ModelDescription declared(std::vector<int64_t> input, std::vector<int64_t> output, int32_t inputType = 1,
                          int32_t outputType = 1) {
    ModelDescription m;
    m.known = true;
    m.inputs = {{"input", inputType, std::move(input)}};
    m.outputs = {{"output", outputType, std::move(output)}};
    return m;
}

}  // namespace

TEST(ModelTiles, TheShapesFixWhatTheyCanAndNameWhatDoesNotFit) {
    const Expected<ModelTiles> fixed = modelTiles(declared({1, 3, 16, 16}, {1, 3, 32, 32}), 16, 3);
    ASSERT_TRUE(fixed);
    EXPECT_EQ(fixed->input.layout, Layout::ChannelsFirst);
    EXPECT_EQ(fixed->input.dims, (std::vector<int64_t>{1, 3, 16, 16}));
    EXPECT_EQ(fixed->scale, 2);
    EXPECT_EQ(fixed->outputChannels, 3);
    EXPECT_EQ(modelTiles(declared({1, 3, 16, 16}, {1, 3, 32, 32}), 32, 3).message(),
              "takes 16 x 16 tiles, not 32 x 32");

    const Expected<ModelTiles> open = modelTiles(declared({-1, 3, -1, -1}, {-1, 3, -1, -1}, 10), 320, 3);
    ASSERT_TRUE(open);
    EXPECT_EQ(open->input.dims, (std::vector<int64_t>{1, 3, 320, 320}));
    EXPECT_EQ(open->input.elementType, 10);
    EXPECT_EQ(open->scale, 0);
    EXPECT_EQ(open->outputChannels, 3);

    ModelDescription two = declared({1, 16, 16, 3}, {1, 16, 16, 3});
    two.inputs.push_back(two.inputs[0]);
    EXPECT_EQ(modelTiles(two, 16, 3).message(), "takes 2 inputs; a tile is one");
    EXPECT_EQ(modelTiles(declared({1, 16, 16, 3}, {1, 16, 16, 3}, 1, 17), 16, 3).message(),
              "gives float8e4m3fn values at its output \"output\", which the library does not convert");
    // A backend that cannot describe its model takes interleaved floats.
    const Expected<ModelTiles> unknown = modelTiles(ModelDescription{}, 8, 2);
    ASSERT_TRUE(unknown);
    EXPECT_EQ(unknown->input.dims, (std::vector<int64_t>{1, 8, 8, 2}));
}

TEST(ResultReader, TheFirstResultFixesTheScaleLaterOnesAreHeldToIt) {
    ModelTiles model = *modelTiles(ModelDescription{}, 16, 3);
    ResultReader reader(model, 16);
    std::vector<float> values(48 * 48 * 3, 0.5f);
    auto read = [&](std::vector<int64_t> dims) -> Expected<TensorFrame> {
        const Expected<TensorFrame> shaped = reader.shape(TileTensor{values.data(), 1, std::move(dims)});
        if (!shaped) return shaped;
        return reader.check(*shaped);
    };
    const Expected<TensorFrame> first = read({1, 32, 32, 3});
    ASSERT_TRUE(first);
    EXPECT_EQ(model.scale, 2);
    EXPECT_EQ(read({1, 16, 8, 3}).message(), "returned a 8 x 16 result for a 16 x 16 tile");
    EXPECT_EQ(read({1, 48, 48, 3}).message(),
              "returned a 48 x 48 result for a 16 x 16 tile where the model's results are 2 times the tile");
    EXPECT_EQ(read({1, 32, 32, 0}).message(), "returned 0 channels");
    EXPECT_TRUE(read({1, 32, 32, 3}));

    // A declared channels-first output is read as one.
    ModelTiles planar = *modelTiles(declared({1, 3, -1, -1}, {1, 3, -1, -1}), 16, 3);
    ResultReader planarReader(planar, 16);
    const Expected<TensorFrame> shaped = planarReader.shape(TileTensor{values.data(), 1, {1, 3, 16, 16}});
    ASSERT_TRUE(shaped);
    EXPECT_EQ(shaped->layout, Layout::ChannelsFirst);
    EXPECT_EQ(shaped->channels, 3);
}
