// Models of every layout, size, element type and scale through both tiled
// pipelines of the public header, each compared with a plain tile loop over
// the runtime's C API (tile_reference.h). A model whose ends are not float
// is compared with its float twin, which makes the same roundings inside, so
// the runtime itself says what the typed model computes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "api/host.h"
#include "api/tile_reference.h"

namespace {

struct Kind {
    const char* model;
    bool channelsFirstIn, channelsFirstOut;
    int scale;
    bool twin;  // compared with model.twin.onnx
};

const Kind kKinds[] = {
    {"mix_cf_cf_f32_t16", true, true, 1, false},         {"mix_cf_cf_f32_open", true, true, 1, false},
    {"mix_cl_cl_f16_open", false, false, 1, true},       {"mix_cf_cl_f64_t16", true, false, 1, true},
    {"mix_cl_cf_f16f64_open", false, true, 1, true},     {"mix_cl_cl_bf16f32_t16", false, false, 1, true},
    {"up2_d2s_cf_cf_f32_t16", true, true, 2, false},     {"up3_near_cl_cl_f64f16_open", false, false, 3, true},
    {"up4_d2s_cf_cl_f16f32_open", true, false, 4, true}, {"up2_near_cf_cf_f32_open", true, true, 2, false},
};

constexpr int kWidth = 45, kHeight = 37, kTile = 16, kStep = 12;

// Values that the models' sums and the box averages keep exact.
Picture sixteenths(int width, int height, int channels, unsigned seed) {
    std::mt19937 rng(seed);
    Picture p = makePicture(width, height, channels);
    for (float& v : p.values) v = static_cast<float>(rng() % 17) / 16.0f;
    return p;
}

std::string referenceFile(const Kind& kind) {
    return modelPath(std::string(kind.model) + (kind.twin ? ".twin.onnx" : ".onnx"));
}

// The largest difference, relative to the value where it is over 1.
double largestDifference(const float* got, const std::vector<float>& want) {
    double worst = 0;
    for (size_t i = 0; i < want.size(); ++i) {
        const double d = std::fabs(double(got[i]) - want[i]) / std::max(1.0, std::fabs(double(want[i])));
        worst = std::isnan(d) ? INFINITY : std::max(worst, d);
    }
    return worst;
}

std::string detailsText(VelmoraContext context) {
    std::vector<char> text(2048, '\x7f');
    getModelInformation(context, nullptr, VELMORA_MODEL_DETAILS, text.data());
    return std::string(text.data(), strnlen(text.data(), text.size()));
}

std::string lastResult(VelmoraContext context) {
    const std::string text = detailsText(context);
    const size_t at = text.find("Last tiled result: ");
    return at == std::string::npos ? "" : text.substr(at, text.find('\n', at) - at);
}

}  // namespace

TEST(ModelKinds, TheFloatPipelineGivesWhatATileLoopGives) {
    const Picture image = sixteenths(kWidth, kHeight, 3, 7);
    for (const Kind& kind : kKinds) {
        HostContext context;
        ASSERT_TRUE(context.load(std::string(kind.model) + ".onnx")) << kind.model << context.errors();
        DirectRuntime reference(referenceFile(kind));
        for (int downscale : {1, 2, -2}) {
            SCOPED_TRACE(testing::Message() << kind.model << " at downscale " << downscale);
            const Picture want = referenceFloat(reference, {kind.channelsFirstIn, kind.channelsFirstOut}, image, kTile,
                                                kStep, downscale);
            ASSERT_EQ(want.width, kWidth * kind.scale);
            ImageFloat in{kWidth, kHeight, 3, const_cast<float*>(image.values.data())};
            const ImageFloat got = predictByTilesImageFloat(context, in, kTile, kStep, downscale, nullptr, nullptr);
            ASSERT_NE(got.data, nullptr) << context.errors();
            ASSERT_EQ(got.width, want.width);
            ASSERT_EQ(got.height, want.height);
            ASSERT_EQ(got.numChannels, want.channels);
            // Unshrunk, every value is the model's own; shrinking and
            // enlarging may round differently in the last place.
            if (downscale == 1)
                EXPECT_EQ(std::memcmp(got.data, want.values.data(), want.values.size() * sizeof(float)), 0);
            else
                EXPECT_LT(largestDifference(got.data, want.values), 1e-5);
        }
    }
}

TEST(ModelKinds, TheBytePipelineGivesWhatATileLoopGives) {
    std::mt19937 rng(11);
    std::vector<uint8_t> rgb(static_cast<size_t>(kWidth) * kHeight * 3);
    for (auto& b : rgb) b = static_cast<uint8_t>(rng() % 17);
    for (const Kind& kind : kKinds) {
        HostContext context;
        ASSERT_TRUE(context.load(std::string(kind.model) + ".onnx")) << kind.model;
        DirectRuntime reference(referenceFile(kind));
        for (int downscale : {1, 2, -2}) {
            SCOPED_TRACE(testing::Message() << kind.model << " at downscale " << downscale);
            int w = 0, h = 0, c = 0;
            const std::vector<uint8_t> want =
                referenceBytes(reference, {kind.channelsFirstIn, kind.channelsFirstOut}, rgb, kWidth, kHeight, kTile,
                               kStep, downscale, 1.0f / 16, 16.0f, &w, &h, &c);
            const unsigned char* got = predictByTiles(context, rgb.data(), kWidth, kHeight, 3, kTile, kStep, false,
                                                      1.0f / 16, 16.0f, downscale, nullptr, nullptr);
            ASSERT_NE(got, nullptr) << context.errors();
            // The host learns the result's sizes from the model information.
            EXPECT_EQ(lastResult(context), "Last tiled result: " + std::to_string(w) + " x " + std::to_string(h) +
                                               " x " + std::to_string(c) + " (scale " + std::to_string(kind.scale) +
                                               ")");
            ASSERT_EQ(w, kWidth * kind.scale);
            // A value that the two ways round to either side of a half may
            // land one apart once shrunk and enlarged.
            const int allowed = downscale == 1 ? 0 : 1;
            int worst = 0;
            for (size_t i = 0; i < want.size(); ++i) worst = std::max(worst, std::abs(int(got[i]) - int(want[i])));
            EXPECT_LE(worst, allowed);
        }
    }
}

TEST(ModelKinds, ResultsThatAreNotWholeMultiplesOfTheTileAreRefusedNamingTheSizes) {
    const Picture image = sixteenths(40, 30, 3, 3);
    std::vector<uint8_t> rgb(40 * 30 * 3, 4);
    struct Case {
        const char* model;
        const char* words;
    };
    const Case cases[] = {
        // Open sizes: found at the first tile.
        {"up1.5_near_cf_cf_f32_open.onnx", "returned a 24 x 24 result for a 16 x 16 tile"},
        {"up2x3_near_cf_cf_f32_open.onnx", "returned a 48 x 32 result for a 16 x 16 tile"},
        // Fixed sizes: found before any tile.
        {"up1.5_near_cf_cf_f32_t16.onnx", "returns a 24 x 24 result for a 16 x 16 tile"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.model);
        HostContext context;
        ASSERT_TRUE(context.load(c.model));
        context.errors();
        ImageFloat in{40, 30, 3, const_cast<float*>(image.values.data())};
        EXPECT_EQ(predictByTilesImageFloat(context, in, 16, 12, 1, nullptr, nullptr).data, nullptr);
        std::string text = context.errors();
        EXPECT_NE(text.find(c.words), std::string::npos) << text;
        EXPECT_EQ(predictByTiles(context, rgb.data(), 40, 30, 3, 16, 12, false, 1.0f, 1.0f, -2, nullptr, nullptr),
                  nullptr);
        text = context.errors();
        EXPECT_NE(text.find(c.words), std::string::npos) << text;
        EXPECT_EQ(lastResult(context), "Last tiled result: none");
    }
}

TEST(ModelKinds, FixedChannelsLastModelsGiveTheTileLoopsBitsExactly) {
    // A convolution whose every output depends on its neighbours: any
    // change in how tiles are cut, run or pasted shows.
    HostContext context;
    ASSERT_TRUE(context.load("demo_sharpen_t128.onnx"));
    DirectRuntime reference(modelPath("demo_sharpen_t128.onnx"));
    const Picture image = sixteenths(300, 170, 3, 5);
    const Picture want = referenceFloat(reference, {false, false}, image, 128, 100, 1);
    ImageFloat in{300, 170, 3, const_cast<float*>(image.values.data())};
    const ImageFloat got = predictByTilesImageFloat(context, in, 128, 100, 1, nullptr, nullptr);
    ASSERT_NE(got.data, nullptr);
    ASSERT_EQ(got.width, 300);
    EXPECT_EQ(std::memcmp(got.data, want.values.data(), want.values.size() * sizeof(float)), 0);
}

TEST(ModelKinds, TheModelInformationDescribesInputsOutputsAndTheLastResult) {
    HostContext context;
    std::vector<char> plain(2048);
    ASSERT_TRUE(context.load("up4_d2s_cf_cl_f16f32_open.onnx"));
    getModelInformation(context, nullptr, 0, plain.data());
    EXPECT_STREQ(plain.data(), "Version: -1   GPURAM: 17592186044415 Mb");
    EXPECT_EQ(detailsText(context),
              "Version: -1   GPURAM: 17592186044415 Mb\n"
              "Last tiled result: none\n"
              "Input \"input\": float16 [?, 3, ?, ?], channels-first\n"
              "Output \"output\": float [?, ?, ?, 3], channels-last\n");
    const Picture image = sixteenths(20, 10, 3, 1);
    ASSERT_NE(
        predictByTilesFloat(context, const_cast<float*>(image.values.data()), 20, 10, 3, 16, 16, 1, nullptr, nullptr),
        nullptr);
    EXPECT_EQ(lastResult(context), "Last tiled result: 80 x 40 x 3 (scale 4)");
    // A failed call leaves no sizes to read.
    EXPECT_EQ(
        predictByTilesFloat(context, const_cast<float*>(image.values.data()), 20, 10, 4, 16, 16, 1, nullptr, nullptr),
        nullptr);
    EXPECT_EQ(lastResult(context), "Last tiled result: none");
}

TEST(ModelKinds, DirectRunsGiveOpenSizesTheCallersSizes) {
    // [1, h, w, 3] open: the whole 20 x 10 image goes through, not 1 x 1.
    HostContext context;
    ASSERT_TRUE(context.load("open_dims.onnx"));
    const Picture image = sixteenths(20, 10, 3, 2);
    const float* out = predictFloat(context, const_cast<float*>(image.values.data()), 20, 10, 3, false);
    ASSERT_NE(out, nullptr) << context.errors();
    EXPECT_EQ(std::vector<float>(out, out + image.values.size()), image.values);

    // Channels-first with open sizes: the caller gives planes and gets planes.
    HostContext planar;
    ASSERT_TRUE(planar.load("mix_cf_cf_f32_open.onnx", 0, 0));
    DirectRuntime reference(modelPath("mix_cf_cf_f32_open.onnx"));
    const DirectRuntime::Tensor want = reference.run(image.values, {1, 3, 10, 20});
    const float* got = predictFloat(planar, const_cast<float*>(image.values.data()), 20, 10, 3, false);
    ASSERT_NE(got, nullptr) << planar.errors();
    EXPECT_EQ(std::vector<float>(got, got + want.values.size()), want.values);

    // A float16 model: the buffer is converted, and the result too.
    HostContext half;
    ASSERT_TRUE(half.load("mix_cl_cl_f16_open.onnx"));
    DirectRuntime twin(modelPath("mix_cl_cl_f16_open.twin.onnx"));
    const DirectRuntime::Tensor rounded = twin.run(image.values, {1, 10, 20, 3});
    got = predictFloat(half, const_cast<float*>(image.values.data()), 20, 10, 3, false);
    ASSERT_NE(got, nullptr) << half.errors();
    EXPECT_EQ(std::vector<float>(got, got + rounded.values.size()), rounded.values);
}
