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

TEST(Channels, PicturesAreFittedToTheModelAndAlphaWaitsAside) {
    const float ga[] = {0.2f, 0.9f};
    float out[4] = {}, alpha = -1;
    const ChannelFit grayToRgb(2, 3);
    EXPECT_TRUE(grayToRgb.setsAlphaAside());
    grayToRgb.apply(ga, out, &alpha);
    EXPECT_EQ(std::vector<float>(out, out + 3), (std::vector<float>{0.2f, 0.2f, 0.2f}));
    EXPECT_EQ(alpha, 0.9f);

    const float rgb[] = {0.1f, 0.2f, 0.3f};
    const ChannelFit opaque(3, 4);
    EXPECT_FALSE(opaque.setsAlphaAside());
    opaque.apply(rgb, out, &alpha);
    EXPECT_EQ(std::vector<float>(out, out + 4), (std::vector<float>{0.1f, 0.2f, 0.3f, 1.0f}));
    const float rgba[] = {0.1f, 0.2f, 0.3f, 0.4f};
    ChannelFit(4, 4).apply(rgba, out, &alpha);  // the model takes the alpha too
    EXPECT_EQ(out[3], 0.4f);
    EXPECT_EQ(ChannelFit(3, 0).modelChannels(), 3);  // unknown: as the picture is
    EXPECT_THROW(ChannelFit(3, 1), std::runtime_error);
    EXPECT_THROW(ChannelFit(4, 2), std::runtime_error);
}

TEST(Channels, ResultsAreScaledGrayedAndGetTheirAlphaBack) {
    const float rgb[] = {0.5f, 0.25f, 1.0f};
    float out[4] = {};
    // A colour result of a gray picture: Rec. 709 luminance, then the alpha.
    const ResultShape gray(3, 1.0f, true, true, false);
    ASSERT_EQ(gray.writtenChannels(), 2);
    gray.apply(rgb, 0.75f, out);
    EXPECT_FLOAT_EQ(out[0], 0.2126f * 0.5f + 0.7152f * 0.25f + 0.0722f * 1.0f);
    EXPECT_EQ(out[1], 0.75f);
    // In colour, scaled; JPEG leaves the alpha out.
    const ResultShape color(3, 0.5f, true, false, true);
    ASSERT_EQ(color.writtenChannels(), 3);
    color.apply(rgb, 0.75f, out);
    EXPECT_EQ(std::vector<float>(out, out + 3), (std::vector<float>{0.25f, 0.125f, 0.5f}));
    // A result with its own alpha keeps it; a gray result of a gray picture stays as it is.
    const float rgba[] = {0.5f, 0.25f, 1.0f, 0.5f};
    const ResultShape own(4, 1.0f, false, true, false);
    ASSERT_EQ(own.writtenChannels(), 2);
    own.apply(rgba, 0.0f, out);
    EXPECT_EQ(out[1], 0.5f);
    EXPECT_EQ(ResultShape(1, 1.0f, false, true, false).writtenChannels(), 1);
    // Neither gray nor RGB: written as given.
    EXPECT_EQ(ResultShape(5, 1.0f, true, true, false).writtenChannels(), 5);
}
