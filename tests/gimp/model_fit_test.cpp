// Fitting a model to tiles from the library's typed description of it.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "library_run.h"
#include "model_fit.h"
#include "support/model_files.h"

namespace {

struct Unload {
    void operator()(VgLoadedModel* model) const { vgUnloadModel(model); }
};

// A generated model loaded and fitted as the plug-in does it; the failure's
// words when it does not fit.
std::string fitFile(const std::string& name, int32_t tile, VgModelFit& fit) {
    const std::vector<char> bytes = readModel(name);
    VgFailure failure{};
    const std::unique_ptr<VgLoadedModel, Unload> model(vgLoadModel(bytes.data(), bytes.size(), &failure));
    if (!model) return std::string("not loaded: ") + failure.text;
    return vgFitLoadedModel(model.get(), tile, &fit, &failure) ? "" : failure.text;
}

VgModelFit fitOf(const std::string& name, int32_t tile = 0) {
    VgModelFit fit{};
    const std::string failure = fitFile(name, tile, fit);
    EXPECT_EQ(failure, "") << name;
    return fit;
}

std::string refusalOf(const std::string& name, int32_t tile = 0) {
    VgModelFit fit{};
    return fitFile(name, tile, fit);
}

// A description of one input, as the library would give it.
VelmoraModelInfo described(std::vector<int64_t> dims, int32_t layout, int32_t width, int32_t height, int32_t channels) {
    VelmoraModelInfo info{};
    info.size = sizeof info;
    info.inputCount = 1;
    VelmoraTensorInfo& in = info.inputs[0];
    std::strcpy(in.name, "x");
    in.dimCount = static_cast<int32_t>(dims.size());
    for (size_t i = 0; i < dims.size() && i < VELMORA_MAX_DIMS; ++i) in.dims[i] = dims[i];
    in.layout = layout;
    in.width = width;
    in.height = height;
    in.channels = channels;
    return info;
}

std::string refusalOf(const VelmoraModelInfo& info) {
    VgModelFit fit;
    VgFailure failure{};
    return vgFitModel(&info, 0, &fit, &failure) ? "" : failure.text;
}

}  // namespace

TEST(ModelFit, TilesAndChannelsComeFromTheModel) {
    VgModelFit fit = fitOf("demo_sharpen_t128.onnx");
    EXPECT_EQ(fit.tile, 128);
    EXPECT_EQ(fit.inputChannels, 3);
    EXPECT_EQ(fit.outputChannels, 3);
    EXPECT_FALSE(fit.openSize);
    EXPECT_EQ(fitOf("demo_sharpen_t128.onnx", 128).tile, 128);

    // Channels-first: the channels are the second dimension, not the last.
    fit = fitOf("channels_first_identity_32x3.onnx");
    EXPECT_EQ(fit.tile, 32);
    EXPECT_EQ(fit.inputChannels, 3);
    fit = fitOf("nchw_to_nhwc_t256.onnx");
    EXPECT_EQ(fit.tile, 256);
    EXPECT_EQ(fit.outputChannels, 3);

    // Open sizes take the given tile, or leave it to the library's plan.
    fit = fitOf("up2_near_cf_cf_f32_open.onnx");
    EXPECT_TRUE(fit.openSize);
    EXPECT_EQ(fit.tile, 0);
    EXPECT_EQ(fit.inputChannels, 3);
    EXPECT_EQ(fitOf("up2_near_cf_cf_f32_open.onnx", 40).tile, 40);
    EXPECT_EQ(fitOf("open_dims.onnx").tile, 0);
    EXPECT_EQ(fitOf("out1d.onnx").outputChannels, 0);  // not an image: unknown

    // One side open, the other fixed: the fixed one is the tile.
    VgModelFit oneOpen;
    VgFailure failure{};
    const VelmoraModelInfo info = described({1, -1, 24, 1}, VELMORA_CHANNELS_LAST, 24, -1, 1);
    ASSERT_TRUE(vgFitModel(&info, 0, &oneOpen, &failure)) << failure.text;
    EXPECT_EQ(oneOpen.tile, 24);
    EXPECT_EQ(oneOpen.inputChannels, 1);
}

TEST(ModelFit, ModelsThatCannotRunInTilesAreRefused) {
    EXPECT_NE(refusalOf("demo_sharpen_t128.onnx", 64).find("(1x128x128x3); a tile size of 64 does not fit"),
              std::string::npos);
    EXPECT_NE(refusalOf("demo_sharpen_t128.onnx", -1).find("must be positive"), std::string::npos);
    EXPECT_NE(refusalOf("add2_t16_c3.onnx").find("takes 2 inputs"), std::string::npos);
    EXPECT_NE(refusalOf(described({1, 16, 32, 3}, VELMORA_CHANNELS_LAST, 32, 16, 3))
                  .find("inputs of 1x16x32x3; the library cuts square tiles"),
              std::string::npos);
    EXPECT_NE(refusalOf(described({256, 3}, VELMORA_LAYOUT_NONE, 0, 0, 0)).find("(256x3) is not an image batch"),
              std::string::npos);
}
