// Reading the library's description of a model, and fitting a model to tiles.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "library_run.h"
#include "model_details.h"
#include "support/model_files.h"

namespace {

struct Unload {
    void operator()(VgLoadedModel* model) const { vgUnloadModel(model); }
};

// The shapes the library tells of a generated model.
VgModelShape describeFile(const std::string& name) {
    const std::vector<char> bytes = readModel(name);
    VgFailure failure{};
    const std::unique_ptr<VgLoadedModel, Unload> model(vgLoadModel(bytes.data(), bytes.size(), &failure));
    VgModelShape shape{};
    EXPECT_TRUE(model) << name << ": " << failure.text;
    if (!model) return shape;
    EXPECT_TRUE(vgReadModelDetails(vgModelDetails(model.get()), &shape, &failure)) << failure.text << "\n"
                                                                                   << vgModelDetails(model.get());
    return shape;
}

VgModelShape describeText(const std::string& text) {
    VgModelShape shape{};
    VgFailure failure{};
    EXPECT_TRUE(vgReadModelDetails(text.c_str(), &shape, &failure)) << failure.text << "\n" << text;
    return shape;
}

std::vector<int64_t> dimsOf(const VgTensor& t) { return {t.dims, t.dims + std::min<int32_t>(t.rank, VG_MAX_DIMS)}; }

VgModelFit fitOf(const VgModelShape& shape, int32_t tile) {
    VgModelFit fit{};
    VgFailure failure{};
    EXPECT_TRUE(vgFitModel(&shape, tile, &fit, &failure)) << failure.text;
    return fit;
}

std::string fitFailure(const VgModelShape& shape, int32_t tile) {
    VgModelFit fit;
    VgFailure failure{};
    if (vgFitModel(&shape, tile, &fit, &failure)) return "";
    return failure.text;
}

}  // namespace

TEST(ModelDetails, ReadsTheLibrarysShapesAndLayouts) {
    const VgModelShape id = describeFile("identity_t16_c3.onnx");
    EXPECT_EQ(id.inputCount, 1);
    EXPECT_EQ(id.outputCount, 1);
    EXPECT_STREQ(id.input.name, "input");
    EXPECT_STREQ(id.output.name, "output");
    EXPECT_EQ(dimsOf(id.input), (std::vector<int64_t>{1, 16, 16, 3}));
    EXPECT_EQ(id.input.layout, VG_CHANNELS_LAST);

    const VgModelShape up = describeFile("up2_d2s_cf_cf_f32_t16.onnx");
    EXPECT_EQ(dimsOf(up.input), (std::vector<int64_t>{1, 3, 16, 16}));
    EXPECT_EQ(dimsOf(up.output), (std::vector<int64_t>{1, 3, 32, 32}));
    EXPECT_EQ(up.input.layout, VG_CHANNELS_FIRST);
    EXPECT_EQ(up.output.layout, VG_CHANNELS_FIRST);

    const VgModelShape open = describeFile("up3_near_cl_cl_f64f16_open.onnx");
    EXPECT_EQ(dimsOf(open.input), (std::vector<int64_t>{-1, -1, -1, 3}));
    EXPECT_EQ(open.input.layout, VG_CHANNELS_LAST);

    const VgModelShape flat = describeFile("out1d.onnx");
    EXPECT_EQ(flat.output.rank, 1);
    EXPECT_EQ(flat.output.layout, VG_LAYOUT_NONE);
    EXPECT_EQ(describeFile("add2_t16_c3.onnx").inputCount, 2);
}

TEST(ModelDetails, FitsTilesAndChannelsToTheModel) {
    VgModelFit fit = fitOf(describeFile("demo_sharpen_t128.onnx"), 0);
    EXPECT_EQ(fit.tile, 128);
    EXPECT_EQ(fit.inputChannels, 3);
    EXPECT_EQ(fit.outputChannels, 3);
    EXPECT_FALSE(fit.openSize);
    EXPECT_EQ(fitOf(describeFile("demo_sharpen_t128.onnx"), 128).tile, 128);

    // Channels-first: the channels are the second dimension, not the last.
    fit = fitOf(describeFile("channels_first_identity_32x3.onnx"), 0);
    EXPECT_EQ(fit.tile, 32);
    EXPECT_EQ(fit.inputChannels, 3);
    fit = fitOf(describeFile("nchw_to_nhwc_t256.onnx"), 0);
    EXPECT_EQ(fit.tile, 256);
    EXPECT_EQ(fit.inputChannels, 3);
    EXPECT_EQ(fit.outputChannels, 3);

    // Open sizes take the given tile, or the plug-in's own.
    const VgModelShape open = describeFile("up2_near_cf_cf_f32_open.onnx");
    fit = fitOf(open, 0);
    EXPECT_TRUE(fit.openSize);
    EXPECT_EQ(fit.tile, VG_OPEN_SIZE_TILE);
    EXPECT_EQ(fit.inputChannels, 3);
    EXPECT_EQ(fitOf(open, 40).tile, 40);
    fit = fitOf(describeFile("open_dims.onnx"), 0);
    EXPECT_EQ(fit.tile, VG_OPEN_SIZE_TILE);
    EXPECT_EQ(fit.inputChannels, 3);

    EXPECT_EQ(fitOf(describeFile("out1d.onnx"), 0).outputChannels, 0);  // not an image: unknown

    // One side open, the other fixed: the fixed one is the tile.
    fit = fitOf(describeText("Input \"x\": float [1, ?, 24, 1], channels-last\n"), 0);
    EXPECT_EQ(fit.tile, 24);
    EXPECT_EQ(fit.inputChannels, 1);
}

TEST(ModelDetails, RefusesModelsThatCannotRunInTiles) {
    const VgModelShape sharpen = describeFile("demo_sharpen_t128.onnx");
    EXPECT_NE(fitFailure(sharpen, 64).find("a tile size of 64 does not fit"), std::string::npos);
    EXPECT_NE(fitFailure(sharpen, -1).find("must be positive"), std::string::npos);
    EXPECT_NE(fitFailure(describeFile("add2_t16_c3.onnx"), 0).find("takes 2 inputs"), std::string::npos);

    EXPECT_NE(fitFailure(describeText("Input \"x\": float [1, 16, 32, 3], channels-last\n"), 0)
                  .find("inputs of 1x16x32x3; the library cuts square tiles"),
              std::string::npos);
    EXPECT_NE(fitFailure(describeText("Input \"x\": float [256, 3]\nOutput \"y\": float [256, 3]\n"), 0)
                  .find("(256x3) is not an image batch"),
              std::string::npos);

    VgModelFit fit;
    VgFailure failure{};
    EXPECT_FALSE(vgFitModel(nullptr, 0, &fit, &failure));
    EXPECT_NE(std::string(failure.text).find("give the tile size"), std::string::npos);
    ASSERT_TRUE(vgFitModel(nullptr, 64, &fit, &failure));
    EXPECT_EQ(fit.tile, 64);
    EXPECT_EQ(fit.inputChannels, 0);
}

TEST(ModelDetails, NamesAreTakenWholeWhateverTheyHold) {
    const VgModelShape odd = describeText(
        "Version: 1   GPURAM: 0 Mb\nLast tiled result: none\n"
        "Input \"a\": b [c]\": float [1, 8, 8, 2], channels-last\n"
        "Output \"out, [1]\": float16 [?, 2, 8, 8], channels-first\n");
    EXPECT_STREQ(odd.input.name, "a\": b [c]");
    EXPECT_EQ(dimsOf(odd.input), (std::vector<int64_t>{1, 8, 8, 2}));
    EXPECT_STREQ(odd.output.name, "out, [1]");
    EXPECT_EQ(odd.output.layout, VG_CHANNELS_FIRST);
    EXPECT_EQ(fitOf(odd, 0).outputChannels, 2);

    const std::string longName(600, 'n');
    const VgModelShape shape = describeText("Input \"" + longName +
                                            "\": float [1, 2, 3, 4, 5, 6, 7, 8, 9, 10]\n"
                                            "Output \"y\": float [1]\n");
    EXPECT_EQ(std::string(shape.input.name), longName.substr(0, VG_MAX_NAME - 1));
    EXPECT_EQ(shape.input.rank, 10);
    EXPECT_EQ(shape.input.dims[VG_MAX_DIMS - 1], 8);
    EXPECT_NE(fitFailure(shape, 0).find("is not an image batch"), std::string::npos);
}

TEST(ModelDetails, TextWithoutAReadableInputIsRefused) {
    VgModelShape shape;
    VgFailure failure{};
    for (const char* text : {"", "Version: 1   GPURAM: 0 Mb\nLast tiled result: none\n",
                             "Input \"x\": float [1, 16, 16", "Input \"x\": float [1, sixteen, 16, 3]\n",
                             "Input \"x\" float [1, 16, 16, 3]\n", "Output \"y\": float [1, 16, 16, 3]\n"}) {
        EXPECT_FALSE(vgReadModelDetails(text, &shape, &failure)) << text;
        EXPECT_NE(std::string(failure.text).find("did not describe the model's input"), std::string::npos);
    }
    // A text cut short within the last output still gives the input.
    shape = describeText("Input \"x\": float [1, 16, 16, 3], channels-last\nOutput \"y\": float [1, 1");
    EXPECT_EQ(shape.outputCount, 0);
    EXPECT_EQ(fitOf(shape, 0).tile, 16);
}
