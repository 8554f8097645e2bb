// What the library refuses, and that it refuses in words before it
// allocates or runs anything: element types it does not read, sizes that do
// not fit the model, sizes that cannot be counted.
#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "api/host.h"

namespace {

struct Heard {
    int calls = 0;
    static bool record(void* self, float) {
        ++static_cast<Heard*>(self)->calls;
        return false;
    }
};

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST(Refusals, OutputsOfTypesTheLibraryDoesNotReadAreNamed) {
    struct Case {
        const char* model;
        const char* type;
    };
    // Narrower than four bytes, packed, or integers: none of them is read.
    const Case cases[] = {
        {"float8_out_t16.onnx", "float8e4m3fn"}, {"int4_out_t16.onnx", "int4"}, {"uint8_out_t16.onnx", "uint8"}};
    std::vector<float> tile(16 * 16 * 3, 0.5f);
    std::vector<unsigned char> rgb(40 * 30 * 3, 100);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.model);
        HostContext context;
        ASSERT_TRUE(context.load(c.model)) << context.errors();
        const std::string before = context.errors();

        EXPECT_EQ(predictFloat(context, tile.data(), 16, 16, 3, false), nullptr);
        EXPECT_EQ(predict(context, tile.data(), 16, 16, 3, false), nullptr);
        std::string text = context.errors();
        EXPECT_TRUE(contains(text, "\"output\"")) << text;
        EXPECT_TRUE(contains(text, std::string(c.type) + " values")) << text;

        EXPECT_EQ(
            predictByTilesImageFloat(context, ImageFloat{40, 30, 3, tile.data()}, 16, 12, 1, nullptr, nullptr).data,
            nullptr);
        EXPECT_EQ(predictByTiles(context, rgb.data(), 40, 30, 3, 16, 12, false, 1.0f, 1.0f, 1, nullptr, nullptr),
                  nullptr);
        text = context.errors();
        EXPECT_TRUE(contains(text, std::string(c.type) + " values")) << text;
    }
}

TEST(Refusals, InputsOfTypesTheLibraryDoesNotGiveAreNamed) {
    HostContext context;
    ASSERT_TRUE(context.load("int64_in_t16.onnx"));
    context.errors();
    std::vector<float> tile(16 * 16 * 3, 1.0f);
    EXPECT_EQ(predictFloat(context, tile.data(), 16, 16, 3, false), nullptr);
    std::string text = context.errors();
    EXPECT_TRUE(contains(text, "int64 values at its input \"input\"")) << text;
    Heard heard;
    EXPECT_EQ(
        predictByTilesImageFloat(context, ImageFloat{16, 16, 3, tile.data()}, 16, 16, 1, Heard::record, &heard).data,
        nullptr);
    text = context.errors();
    EXPECT_TRUE(contains(text, "int64 values at its input \"input\"")) << text;
    EXPECT_EQ(heard.calls, 0);
}

TEST(Refusals, TilesThatDoNotFitAFixedModelAreRefusedBeforeAnyTile) {
    HostContext context;
    ASSERT_TRUE(context.load("identity_t16_c3.onnx"));
    std::vector<float> image(13 * 5 * 3, 0.5f);
    std::vector<unsigned char> rgb(13 * 5 * 3, 9);
    // 12000 x 12000 x 3 floats would be 1.7 GB; 2^29 cannot be had at all.
    for (int tile : {12000, 1 << 29, 8}) {
        SCOPED_TRACE(tile);
        const std::string sizes = "takes 16 x 16 tiles, not " + std::to_string(tile) + " x " + std::to_string(tile);
        Heard heard;
        EXPECT_EQ(
            predictByTilesImageFloat(context, ImageFloat{13, 5, 3, image.data()}, tile, tile, 1, Heard::record, &heard)
                .data,
            nullptr);
        std::string text = context.errors();
        EXPECT_TRUE(contains(text, sizes)) << text;
        EXPECT_EQ(
            predictByTiles(context, rgb.data(), 13, 5, 3, tile, tile, false, 1.0f, 1.0f, 1, Heard::record, &heard),
            nullptr);
        text = context.errors();
        EXPECT_TRUE(contains(text, sizes)) << text;
        EXPECT_EQ(heard.calls, 0);  // refused before the first tile
    }
}

TEST(Refusals, TheBytePipelineChecksItsDownscaleBeforeAllocating) {
    HostContext context;
    ASSERT_TRUE(context.load("identity_t64_c3.onnx"));
    // Tiles of 64 x 100 pixels a side cut from a 16 x 16 image: 1.6 GB of
    // working images for 256 pixels.
    std::vector<unsigned char> rgb(16 * 16 * 3, 9);
    Heard heard;
    EXPECT_EQ(predictByTiles(context, rgb.data(), 16, 16, 3, 64, 48, false, 1.0f, 1.0f, -100, Heard::record, &heard),
              nullptr);
    const std::string text = context.errors();
    EXPECT_TRUE(contains(text, "smaller than the downscale factor")) << text;
    EXPECT_EQ(heard.calls, 0);
}

TEST(Refusals, AnImageWhoseChannelsDifferFromTheModelsIsRefused) {
    HostContext context;
    ASSERT_TRUE(context.load("identity_t16_c3.onnx"));
    std::vector<float> image(40 * 30 * 4, 0.5f);
    Heard heard;
    EXPECT_EQ(
        predictByTilesImageFloat(context, ImageFloat{40, 30, 4, image.data()}, 16, 12, 1, Heard::record, &heard).data,
        nullptr);
    std::string text = context.errors();
    EXPECT_TRUE(contains(text, "takes 3 channels, the image has 4")) << text;
    EXPECT_EQ(predictByTilesFloat(context, image.data(), 40, 30, 4, 16, 12, -2, Heard::record, &heard), nullptr);
    text = context.errors();
    EXPECT_TRUE(contains(text, "takes 3 channels, the image has 4")) << text;

    // The 8-bit pipeline fills three channels and hands the model the count given.
    std::vector<unsigned char> rgb(40 * 30 * 3, 9);
    EXPECT_EQ(predictByTiles(context, rgb.data(), 40, 30, 4, 16, 12, false, 1.0f, 1.0f, 1, Heard::record, &heard),
              nullptr);
    text = context.errors();
    EXPECT_TRUE(contains(text, "takes 3 channels, the image has 4")) << text;
    EXPECT_EQ(heard.calls, 0);
}

TEST(Refusals, DirectRunSizesThatCannotBeCountedAreRefused) {
    HostContext context;
    ASSERT_TRUE(context.load("identity_t16_c3.onnx"));
    context.errors();
    std::vector<float> data(16 * 16 * 3, 1.0f);
    ImageFloat image{INT32_MAX, INT32_MAX, INT32_MAX, data.data()};
    // The product of three 32-bit sizes does not fit in 64 bits.
    EXPECT_EQ(predictFloat(context, data.data(), INT32_MAX, INT32_MAX, INT32_MAX, false), nullptr);
    EXPECT_EQ(predict(context, data.data(), INT32_MIN, INT32_MIN, INT32_MIN, false), nullptr);
    EXPECT_EQ(predict2InputsFloat(context, data.data(), data.data(), INT32_MAX, INT32_MAX, INT32_MAX), nullptr);
    EXPECT_EQ(predict3InputsFloat(context, image, image, image), nullptr);
    const std::string text = context.errors();
    EXPECT_TRUE(contains(text, "2147483647 x 2147483647 x 2147483647")) << text;
    EXPECT_TRUE(contains(text, "-2147483648 x -2147483648 x -2147483648")) << text;
    // The context still runs.
    EXPECT_NE(predictFloat(context, data.data(), 16, 16, 3, false), nullptr);
}

TEST(Refusals, ExtremeArgumentsAreRefusedInWordsByBothPipelines) {
    HostContext context;
    ASSERT_TRUE(context.load("mix_cf_cf_f32_open.onnx"));  // open sizes: only the arguments limit
    std::vector<float> image(13 * 5 * 3, 0.5f);
    std::vector<unsigned char> rgb(13 * 5 * 3, 7);
    struct Case {
        int tile, step, channels, downscale;
    };
    const Case cases[] = {
        {INT32_MAX, 1, 3, 1},   {1 << 29, 1 << 29, 3, 1},       {16, 16, INT32_MAX, 1}, {16, 16, 1 << 20, 1},
        {16, 16, 3, INT32_MAX}, {16, 16, 3, -(1 << 30)},        {16, 1, 3, INT32_MIN},  {-16, 16, 3, 1},
        {16, 16, -3, 1},        {1 << 16, 1 << 16, 3, 1 << 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "tile " << c.tile << " step " << c.step << " channels " << c.channels
                                        << " downscale " << c.downscale);
        Heard heard;
        const float* floats = predictByTilesFloat(context, image.data(), 13, 5, c.channels, c.tile, c.step, c.downscale,
                                                  Heard::record, &heard);
        EXPECT_EQ(floats, nullptr);
        std::string text = context.errors();
        EXPECT_FALSE(text.empty());
        const unsigned char* bytes = predictByTiles(context, rgb.data(), 13, 5, c.channels, c.tile, c.step, false, 1.0f,
                                                    1.0f, c.downscale, Heard::record, &heard);
        text = context.errors();
        EXPECT_EQ(bytes, nullptr);
        EXPECT_FALSE(text.empty());
    }
}
