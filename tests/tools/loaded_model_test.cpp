#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "channels.h"
#include "command_runner.h"
#include "enlarge_plane.h"
#include "loaded_model.h"

namespace {

std::string refusal(const std::string& name, Options options = {}) {
    const LoadedModel model = loadModel(modelFile(name), options);
    return modelRefusal(model.info, options);
}

std::string failureOf(const std::function<void()>& step) {
    try {
        step();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "";
}

}  // namespace

TEST(LoadedModel, ModelsTiledRunsCannotTakeAreRefusedInPlainWords) {
    EXPECT_EQ(refusal("demo_sharpen_t128.onnx"), "");
    EXPECT_EQ(refusal("add2_t16_c3.onnx"), "the model takes 2 inputs; tiled runs feed exactly one");
    Options options;
    options.outputName = "missing";
    EXPECT_EQ(refusal("demo_sharpen_t128.onnx", options),
              "the model has no output named \"missing\" (it has \"output\")");
    options = {};
    options.tile = 64;
    EXPECT_EQ(refusal("demo_sharpen_t128.onnx", options),
              "the model takes 128 x 128 tiles ([1, 128, 128, 3], channels-last); --tile 64 does not fit");
    EXPECT_EQ(
        refusal("int64_in_t16.onnx"),
        "the model's input \"input\" holds int64 elements; the library takes float, float16, bfloat16 and double");
    EXPECT_NE(refusal("float8_out_t16.onnx").find("output \"output\" holds float8e4m3fn elements"), std::string::npos);
    // Where the library itself says why, its words.
    EXPECT_EQ(refusal("up1.5_near_cf_cf_f32_t16.onnx").rfind("the model returns a 24 x 24 result", 0), 0u);

    EXPECT_NE(failureOf([] { loadModel(modelFile("absent.onnx"), {}); }).find("absent.onnx: no such model file"),
              std::string::npos);
    EXPECT_NE(failureOf([] { loadModel(modelFile("not_a_model.onnx"), {}); }).find(": the runtime refused the model: "),
              std::string::npos);
}

TEST(LoadedModel, ThePublishedTextDetectorIsChannelsFirstWithOpenSizes) {
    const std::string path = std::string(VELMORA_TEST_PUBLISHED_MODELS) + "/ch_PP-OCRv4_det_infer.onnx";
    if (!std::filesystem::exists(path)) GTEST_SKIP() << path << " is missing (scripts/setup.sh fetches it)";
    Options options;
    options.tile = 320;
    LoadedModel model = loadModel(path, options);
    const VelmoraModelInfo& m = model.info;
    EXPECT_EQ(modelRefusal(m, options), "");
    EXPECT_STREQ(m.inputs[0].name, "x");
    EXPECT_EQ(dimsText(m.inputs[0]), "[?, 3, ?, ?]");
    EXPECT_STREQ(m.outputs[0].name, "sigmoid_0.tmp_0");
    EXPECT_EQ(m.inputs[0].layout, VELMORA_CHANNELS_FIRST);
    EXPECT_EQ(m.outputs[0].layout, VELMORA_CHANNELS_FIRST);
    EXPECT_EQ(m.inputChannels, 3);
    EXPECT_EQ(m.outputChannels, 1);
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

TEST(LoadedModel, OptionsAreLaidOverTheProfileListByList) {
    VelmoraProfile base{};
    base.channels = 3;
    for (int c = 0; c < 3; ++c) {
        base.mean[c] = 100.0f + c;
        base.std[c] = 50.0f + c;
    }
    base.inputHigh = base.outputHigh = 255.0f;
    Options o;
    o.mean = {0.5f};
    const VelmoraProfile mean = withOverrides(base, o);
    EXPECT_EQ(mean.channels, 3);
    EXPECT_EQ(std::vector<float>(mean.mean, mean.mean + 3), (std::vector<float>{0.5f, 0.5f, 0.5f}));
    EXPECT_EQ(std::vector<float>(mean.std, mean.std + 3), (std::vector<float>{50.0f, 51.0f, 52.0f}));
    EXPECT_EQ(mean.inputHigh, 255.0f);  // the rest stays
    // Without a profile a mean alone divides by 1.
    const VelmoraProfile alone = withOverrides(VelmoraProfile{}, o);
    EXPECT_EQ(alone.channels, 1);
    EXPECT_EQ(alone.std[0], 1.0f);
    o.mean.clear();
    o.deviation = {1.0f, 2.0f};
    EXPECT_EQ(failureOf([&] { withOverrides(base, o); }), "the profile's mean gives 3 values and --std 2");
    o.deviation.clear();
    o.outputRole = OutputRole::Mask;
    EXPECT_TRUE(givesMask(withOverrides(base, o)));
}
