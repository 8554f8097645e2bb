#include <gtest/gtest.h>

#include "channels.h"
#include "command_runner.h"
#include "model_fit.h"

namespace {

ModelDescription describe(const std::string& name) { return describeModel(readModelFile(modelFile(name))); }

std::string fitError(const std::string& name, Options options = {}) {
    const ModelDescription d = describe(name);
    try {
        fitModel(&d, options);
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "";
}

}  // namespace

TEST(ModelFile, ReadsInputsAndOutputsOfGeneratedModels) {
    const ModelDescription demo = describe("demo_sharpen_t128.onnx");
    EXPECT_EQ(demo.producer, "velmora-make-models");
    EXPECT_EQ(demo.irVersion, 8);
    ASSERT_EQ(demo.inputs.size(), 1u);  // the weights are initializers, not inputs
    EXPECT_EQ(demo.inputs[0].name, "input");
    EXPECT_EQ(demo.inputs[0].elementType, 1);
    EXPECT_EQ(demo.inputs[0].dims, (std::vector<int64_t>{1, 128, 128, 3}));
    ASSERT_EQ(demo.outputs.size(), 1u);
    EXPECT_EQ(shapeText(demo.outputs[0].dims), "1x128x128x3");

    EXPECT_EQ(shapeText(describe("open_dims.onnx").inputs[0].dims), "1x?x?x3");
    EXPECT_EQ(describe("add3_t16_c3.onnx").outputs.size(), 2u);
    EXPECT_EQ(describe("scalar_out.onnx").outputs[0].dims.size(), 0u);

    for (const std::string& bytes : {std::string("This is a line of text, not an ONNX model.\n"),
                                     std::string("\x08\x07", 2), std::string("\x3a\x05\x0a", 3), std::string()})
        EXPECT_THROW(describeModel(std::vector<char>(bytes.begin(), bytes.end())), std::runtime_error);
    EXPECT_THROW(readModelFile(modelFile("absent.onnx")), std::runtime_error);
}

TEST(ModelFit, TileChannelsAndLayoutComeFromTheModel) {
    Options options;
    const ModelDescription demo = describe("demo_sharpen_t128.onnx");
    ModelFit fit = fitModel(&demo, options);
    EXPECT_EQ(fit.tile, 128);
    EXPECT_EQ(fit.inputChannels, 3);
    EXPECT_EQ(fit.outputChannels, 3);
    EXPECT_EQ(fit.inputName, "input");
    EXPECT_EQ(fit.inputLayout, 1);

    const ModelDescription nchw = describe("nchw_to_nhwc_t256.onnx");
    fit = fitModel(&nchw, options);
    EXPECT_EQ(fit.inputLayout, 0);
    EXPECT_EQ(fit.outputLayout, 1);
    EXPECT_EQ(fit.tile, 256);
    EXPECT_EQ(fit.inputChannels, 3);

    const ModelDescription gray = describe("rgb_to_gray_64.onnx");
    EXPECT_EQ(fitModel(&gray, options).outputChannels, 1);

    options.tile = 64;
    EXPECT_NE(fitError("demo_sharpen_t128.onnx", options).find("128 x 128 tiles"), std::string::npos);
    EXPECT_NE(fitError("open_dims.onnx").find("open"), std::string::npos);
    EXPECT_NE(fitError("add2_t16_c3.onnx").find("2 inputs"), std::string::npos);
    options = {};
    options.outputName = "missing";
    EXPECT_NE(fitError("demo_sharpen_t128.onnx", options).find("\"output\""), std::string::npos);
    // Without a description only the options can say the tile.
    EXPECT_THROW(fitModel(nullptr, Options{}), std::runtime_error);
}

TEST(Channels, ImagesAreFittedToTheModelAndAlphaComesBack) {
    Raster ga = makeRaster(2, 1, 2, SampleType::UInt8);
    ga.pixels = {0.2f, 0.9f, 0.4f, 0.1f};
    ModelInput rgb = fitChannels(ga, 3);
    EXPECT_EQ(rgb.image.pixels, (std::vector<float>{0.2f, 0.2f, 0.2f, 0.4f, 0.4f, 0.4f}));
    EXPECT_EQ(rgb.alpha, (std::vector<float>{0.9f, 0.1f}));
    const Raster back = restoreAlpha(rgb.image, rgb.alpha);
    EXPECT_EQ(back.channels, 4);
    EXPECT_EQ(back.pixels, (std::vector<float>{0.2f, 0.2f, 0.2f, 0.9f, 0.4f, 0.4f, 0.4f, 0.1f}));

    Raster rgbImage = makeRaster(1, 1, 3, SampleType::UInt8);
    rgbImage.pixels = {0.1f, 0.2f, 0.3f};
    EXPECT_EQ(fitChannels(rgbImage, 4).image.pixels, (std::vector<float>{0.1f, 0.2f, 0.3f, 1.0f}));
    EXPECT_TRUE(fitChannels(rgbImage, 4).alpha.empty());
    EXPECT_EQ(fitChannels(rgbImage, 0).image.pixels, rgbImage.pixels);
    EXPECT_THROW(fitChannels(rgbImage, 1), std::runtime_error);
    // A result whose size differs from the alpha's is left alone.
    EXPECT_EQ(restoreAlpha(rgbImage, {0.5f, 0.5f}).channels, 3);
}
