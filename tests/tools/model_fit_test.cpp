#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "channels.h"
#include "command_runner.h"
#include "enlarge_plane.h"
#include "library_run.h"
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
    const ResultShape gray(3, ChannelMap::scaling(1.0f), true, true, false);
    ASSERT_EQ(gray.writtenChannels(), 2);
    gray.apply(rgb, 0.75f, out);
    EXPECT_FLOAT_EQ(out[0], 0.2126f * 0.5f + 0.7152f * 0.25f + 0.0722f * 1.0f);
    EXPECT_EQ(out[1], 0.75f);
    // In colour, scaled; JPEG leaves the alpha out.
    const ResultShape color(3, ChannelMap::scaling(0.5f), true, false, true);
    ASSERT_EQ(color.writtenChannels(), 3);
    color.apply(rgb, 0.75f, out);
    EXPECT_EQ(std::vector<float>(out, out + 3), (std::vector<float>{0.25f, 0.125f, 0.5f}));
    // A result with its own alpha keeps it; a gray result of a gray picture stays as it is.
    const float rgba[] = {0.5f, 0.25f, 1.0f, 0.5f};
    const ResultShape own(4, ChannelMap::scaling(1.0f), false, true, false);
    ASSERT_EQ(own.writtenChannels(), 2);
    own.apply(rgba, 0.0f, out);
    EXPECT_EQ(out[1], 0.5f);
    EXPECT_EQ(ResultShape(1, ChannelMap::scaling(1.0f), false, true, false).writtenChannels(), 1);
    // Neither gray nor RGB: written as given.
    EXPECT_EQ(ResultShape(5, ChannelMap::scaling(1.0f), true, true, false).writtenChannels(), 5);
}

TEST(ModelFit, OpenSizesTakeTheTileAndShapesTellLayoutsTypesAndScale) {
    Options options;
    // Open sides: the tile is the command's to choose.
    const ModelDescription open = describe("mix_cf_cf_f32_open.onnx");
    ModelFit fit = fitModel(&open, options);
    EXPECT_TRUE(fit.openSize);
    EXPECT_EQ(fit.tile, kDefaultOpenTile);
    EXPECT_EQ(kDefaultOpenTile % 32, 0);
    EXPECT_EQ(fit.inputLayout, 0);
    EXPECT_EQ(fit.outputLayout, 0);
    EXPECT_EQ(fit.inputChannels, 3);
    EXPECT_EQ(fit.scale, 0);  // open: known after a run
    options.tile = 96;
    EXPECT_EQ(fitModel(&open, options).tile, 96);
    // A layout given by hand against the shape leaves sides that are not square.
    options.inputLayout = Layout::ChannelsLast;
    EXPECT_NE(fitError("mix_cf_cf_f32_open.onnx", options).find("takes ? x 3 inputs (?x3x?x? read channels-last)"),
              std::string::npos);
    options = {};
    options.inputLayout = Layout::ChannelsFirst;
    EXPECT_NE(fitError("open_dims.onnx", options).find("takes 3 x ? inputs"), std::string::npos);
    options = {};

    // Each end read by its own shape, whatever its element type.
    const ModelDescription mixed = describe("mix_cl_cf_f16f64_open.onnx");
    fit = fitModel(&mixed, options);
    EXPECT_EQ(fit.inputLayout, 1);
    EXPECT_EQ(fit.outputLayout, 0);
    EXPECT_EQ(fit.outputChannels, 3);
    const ModelDescription bf16 = describe("mix_cl_cl_bf16f32_t16.onnx");
    EXPECT_EQ(fitModel(&bf16, options).tile, 16);

    // Fixed enlarging models say their scale; a channels-first output of one
    // fixed side and one open one too.
    const ModelDescription up2 = describe("up2_d2s_cf_cf_f32_t16.onnx");
    fit = fitModel(&up2, options);
    EXPECT_EQ(fit.tile, 16);
    EXPECT_FALSE(fit.openSize);
    EXPECT_EQ(fit.scale, 2);
    const ModelDescription same = describe("mix_cf_cf_f32_t16.onnx");
    EXPECT_EQ(fitModel(&same, options).scale, 1);

    EXPECT_NE(fitError("up1.5_near_cf_cf_f32_t16.onnx").find("gives 24 x 24 results for 16 x 16 tiles"),
              std::string::npos);
    EXPECT_NE(fitError("int64_in_t16.onnx").find("input \"input\" holds int64 elements"), std::string::npos);
    EXPECT_NE(fitError("float8_out_t16.onnx").find("output \"output\" holds float8e4m3fn elements"), std::string::npos);
    EXPECT_EQ(elementTypeName(10), "float16");
    EXPECT_EQ(elementTypeName(16), "bfloat16");
    EXPECT_EQ(elementTypeName(99), "element type 99");
}

TEST(ModelFit, ThePublishedTextDetectorIsChannelsFirstWithOpenSizes) {
    const std::string path = std::string(VELMORA_TEST_PUBLISHED_MODELS) + "/ch_PP-OCRv4_det_infer.onnx";
    if (!std::filesystem::exists(path)) GTEST_SKIP() << path << " is missing (scripts/setup.sh fetches it)";
    const ModelDescription d = describeModel(readModelFile(path));
    ASSERT_EQ(d.inputs.size(), 1u);
    EXPECT_EQ(shapeText(d.inputs[0].dims), "?x3x?x?");
    Options options;
    options.tile = 320;
    const ModelFit fit = fitModel(&d, options);
    EXPECT_EQ(fit.inputName, "x");
    EXPECT_EQ(fit.outputName, "sigmoid_0.tmp_0");
    EXPECT_EQ(fit.inputLayout, 0);
    EXPECT_EQ(fit.outputLayout, 0);
    EXPECT_EQ(fit.tile, 320);
    EXPECT_EQ(fit.inputChannels, 3);
    EXPECT_EQ(fit.outputChannels, 1);
    EXPECT_TRUE(fit.openSize);
}

TEST(Channels, NormalisationAndItsInverse) {
    const std::vector<float> mean{0.485f, 0.456f, 0.406f}, deviation{0.229f, 0.224f, 0.225f};
    const ChannelMap in = ChannelMap::normalizing(1.0f, mean, deviation);
    const ChannelMap out = ChannelMap::denormalizing(1.0f, mean, deviation);
    for (int c = 0; c < 3; ++c)
        for (const float v : {0.0f, 0.25f, 1.0f}) {
            EXPECT_NEAR(in(c, v), (v - mean[c]) / deviation[c], 1e-6f);
            EXPECT_NEAR(out(c, in(c, v)), v, 1e-6f);
        }
    // The scale comes first on the way in and last on the way out.
    const ChannelMap scaled = ChannelMap::normalizing(255.0f, {128.0f}, {64.0f});
    EXPECT_FLOAT_EQ(scaled(2, 1.0f), (255.0f - 128.0f) / 64.0f);
    EXPECT_FLOAT_EQ(ChannelMap::denormalizing(0.5f, {128.0f}, {64.0f})(0, 1.0f), (64.0f + 128.0f) * 0.5f);
    // A mean alone, a deviation alone.
    EXPECT_FLOAT_EQ(ChannelMap::normalizing(1.0f, {0.5f}, {})(1, 0.75f), 0.25f);
    EXPECT_FLOAT_EQ(ChannelMap::normalizing(1.0f, {}, {2.0f})(1, 0.75f), 0.375f);
    EXPECT_TRUE(ChannelMap::normalizing(1.0f, {}, {}).isIdentity());
    EXPECT_FALSE(ChannelMap::scaling(2.0f).isIdentity());

    // The counts must match the channels where they are known.
    EXPECT_EQ(mapProblem(in, 3, "--mean gives", false), "");
    EXPECT_EQ(mapProblem(in, 0, "--mean gives", false), "");
    EXPECT_EQ(mapProblem(scaled, 4, "--mean gives", false), "");
    EXPECT_EQ(mapProblem(in, 4, "--mean and --std give", false),
              "--mean and --std give 3 values per pixel; the model takes 4 channels");
    EXPECT_EQ(mapProblem(out, 1, "--std gives", true), "--std gives 3 values per pixel; the model gives 1 channel");

    // The output's values go through the map before a gray picture's luminance.
    const float result[] = {0.0f, 0.0f, 0.0f};
    float written[1] = {};
    ResultShape(3, out, false, true, false).apply(result, 1.0f, written);
    EXPECT_NEAR(written[0], luminance(mean[0], mean[1], mean[2]), 1e-6f);
}

TEST(EnlargedAlpha, BilinearWithCentresAlignedAndEdgesRepeated) {
    // A ramp along x, constant along y: inside, the enlarged plane continues
    // the ramp at each enlarged pixel's centre; past the outer centres it
    // stays at the edge values.
    const int width = 6, height = 3;
    std::vector<float> ramp(width * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) ramp[y * width + x] = static_cast<float>(x) / (width - 1);
    for (const int factor : {1, 2, 3, 4}) {
        SCOPED_TRACE(factor);
        const PlaneEnlarger enlarger(ramp.data(), width, height, factor);
        ASSERT_EQ(enlarger.width(), width * factor);
        std::vector<float> row(width * factor);
        for (int y = 0; y < height * factor; ++y) {
            enlarger.row(y, row.data());
            for (int x = 0; x < width * factor; ++x) {
                const double at = std::clamp((x + 0.5) / factor - 0.5, 0.0, width - 1.0);
                ASSERT_NEAR(row[x], at / (width - 1), 1e-6) << x << ", " << y;
            }
        }
    }
    // Along y the same, and an enlarged pixel stays between its neighbours.
    std::vector<float> column(2 * 2);
    column = {0.0f, 0.0f, 1.0f, 1.0f};  // 2 x 2: top row 0, bottom row 1
    const PlaneEnlarger tall(column.data(), 2, 2, 4);
    std::vector<float> row(8);
    const float expected[8] = {0.0f, 0.0f, 0.125f, 0.375f, 0.625f, 0.875f, 1.0f, 1.0f};
    for (int y = 0; y < 8; ++y) {
        tall.row(y, row.data());
        for (const float v : row) EXPECT_FLOAT_EQ(v, expected[y]) << y;
    }
}

TEST(LibraryText, TheLastResultsSizesAreReadFromTheModelInformation) {
    const LibraryContext::ResultSizes sizes =
        parseResultSizes("Version: -1   GPURAM: 0 Mb\nLast tiled result: 640 x 480 x 1 (scale 4)\nInput \"x\": ...\n");
    EXPECT_EQ(sizes.width, 640);
    EXPECT_EQ(sizes.height, 480);
    EXPECT_EQ(sizes.channels, 1);
    EXPECT_EQ(sizes.scale, 4);
    EXPECT_EQ(parseResultSizes("Version: -1\nLast tiled result: none\n").width, 0);
    EXPECT_EQ(parseResultSizes("Version: -1   GPURAM: 0 Mb").width, 0);
    EXPECT_EQ(parseResultSizes("Last tiled result: 64 x 32 x 0 (scale 1)").width, 0);
}
