#include <gtest/gtest.h>

#include <random>

#include "api/host.h"

namespace {

std::vector<unsigned char> randomRgb(int w, int h, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<unsigned char> v(static_cast<size_t>(w) * h * 3);
    for (auto& x : v) x = static_cast<unsigned char>(rng());
    return v;
}

struct Calls {
    std::vector<float> seen;
    int stopAt = -1;
    static bool record(void* self, float percent) {
        auto* c = static_cast<Calls*>(self);
        c->seen.push_back(percent);
        return static_cast<int>(c->seen.size()) - 1 == c->stopAt;
    }
};

}  // namespace

TEST(TiledBytes, IdentityRoundTripsThroughScaling) {
    HostContext context;
    ASSERT_TRUE(context.load("identity_t16_c3.onnx"));
    for (auto [w, h, step] : {std::tuple{1, 1, 16}, {37, 23, 12}, {100, 50, 10}}) {
        auto rgb = randomRgb(w, h, w + h);
        Calls calls;
        unsigned char* out =
            predictByTiles(context, rgb.data(), w, h, 3, 16, step, false, 1.0f / 255, 255.0f, 1, Calls::record, &calls);
        ASSERT_NE(out, nullptr) << context.errors();
        EXPECT_EQ(std::vector<unsigned char>(out, out + rgb.size()), rgb);
        const int tiles = ((w + step - 1) / step) * ((h + step - 1) / step);
        ASSERT_EQ(calls.seen.size(), static_cast<size_t>(tiles + 1));
        EXPECT_EQ(calls.seen.front(), 0.0f);
        EXPECT_EQ(calls.seen.back(), 100.0f);
    }
}

TEST(TiledBytes, ScaledOutputsRoundHalfUp) {
    HostContext context;
    ASSERT_TRUE(context.load("identity_t16_c3.onnx"));
    std::vector<unsigned char> rgb(16 * 16 * 3, 1);
    // 1 x 0.5 = 0.5, times 255 gives 127.5, plus the half: 128.
    unsigned char* out =
        predictByTiles(context, rgb.data(), 16, 16, 3, 16, 16, false, 0.5f, 255.0f, 1, nullptr, nullptr);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out[0], 128);
    // inputScale turns 255 into 1.0 and 0 into 0.0.
    rgb[0] = 255;
    rgb[1] = 0;
    out = predictByTiles(context, rgb.data(), 16, 16, 3, 16, 16, false, 1.0f / 255, 100.0f, 1, nullptr, nullptr);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out[0], 100);
    EXPECT_EQ(out[1], 0);
}

TEST(TiledBytes, ArgmaxGivesOneChannelAndReusesTheResult) {
    HostContext context;
    ASSERT_TRUE(context.load("argmax_seg_t16.onnx"));  // output channels: the input's (2, 0, 1)
    const int w = 45, h = 30;
    auto rgb = randomRgb(w, h, 5);
    unsigned char* first = predictByTiles(context, rgb.data(), w, h, 3, 16, 10, true, 1.0f, 1.0f, 1, nullptr, nullptr);
    ASSERT_NE(first, nullptr);
    for (int p = 0; p < w * h; ++p) {
        const float out[3] = {rgb[p * 3 + 2] * 1.0f, rgb[p * 3] * 1.0f, rgb[p * 3 + 1] * 1.0f};
        int best = 0;
        for (int c = 1; c < 3; ++c)
            if (out[c] > out[best]) best = c;
        ASSERT_EQ(first[p], best) << p;
    }
    unsigned char* second = predictByTiles(context, rgb.data(), w, h, 3, 16, 10, true, 1.0f, 1.0f, 1, nullptr, nullptr);
    EXPECT_EQ(second, first);
}

TEST(TiledBytes, StopAndModelFailures) {
    HostContext context;
    auto rgb = randomRgb(100, 50, 1);
    EXPECT_EQ(predictByTiles(context, rgb.data(), 100, 50, 3, 16, 16, false, 1.0f, 1.0f, 1, nullptr, nullptr), nullptr);
    EXPECT_NE(context.errors().find("Velmora error: model not loaded, can't predict"), std::string::npos);

    ASSERT_TRUE(context.load("identity_t64_c3.onnx"));
    Calls calls;
    calls.stopAt = 2;
    EXPECT_EQ(predictByTiles(context, rgb.data(), 100, 50, 3, 64, 48, false, 1.0f, 1.0f, 1, Calls::record, &calls),
              nullptr);
    const std::vector<float> expected = {0.0f, 1.0f / (6.0f / 100.0f), 2.0f / (6.0f / 100.0f)};
    EXPECT_EQ(calls.seen, expected);
    EXPECT_EQ(context.errors(), HostContext().errors());
}

TEST(TiledBytes, DownscaledTilesAreShrunkForTheModelAndEnlargedBack) {
    HostContext context;
    ASSERT_TRUE(context.load("identity_t16_c3.onnx"));
    // A flat image stays flat through shrinking and enlarging.
    std::vector<unsigned char> flat(70 * 40 * 3, 90);
    for (int downscale : {2, -2, 3}) {
        unsigned char* out =
            predictByTiles(context, flat.data(), 70, 40, 3, 16, 12, false, 1.0f, 1.0f, downscale, nullptr, nullptr);
        ASSERT_NE(out, nullptr) << downscale << context.errors();
        for (size_t i = 0; i < flat.size(); ++i) ASSERT_EQ(out[i], 90) << downscale << " at " << i;
    }
    // With a negative factor the detail comes back: an identity model returns the image.
    auto rgb = randomRgb(70, 40, 2);
    unsigned char* detailed =
        predictByTiles(context, rgb.data(), 70, 40, 3, 16, 12, false, 1.0f, 1.0f, -2, nullptr, nullptr);
    ASSERT_NE(detailed, nullptr);
    EXPECT_EQ(std::vector<unsigned char>(detailed, detailed + rgb.size()), rgb);
}

TEST(TiledBytes, ArgumentsOutsideTheContractAreRefusedInWords) {
    HostContext context;
    ASSERT_TRUE(context.load("identity_t16_c3.onnx"));
    auto rgb = randomRgb(20, 20, 1);
    struct Case {
        unsigned char* data;
        int w, h, channels, tile, step, downscale;
        const char* words;
    };
    const Case cases[] = {
        {nullptr, 20, 20, 3, 16, 16, 1, "no data"},
        {rgb.data(), 0, 20, 3, 16, 16, 1, "width and a height"},
        {rgb.data(), 20, 20, 1, 16, 16, 1, "3 channels"},
        {rgb.data(), 20, 20, 3, 16, 0, 1, "1 or more"},
        {rgb.data(), 20, 20, 3, 8, 16, 1, "not be smaller than the step"},
        {rgb.data(), 20, 20, 3, 16, 16, 0, "non-zero"},
        {rgb.data(), 20, 20, 3, 1 << 20, 1 << 20, 1 << 12, "too large"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.words);
        EXPECT_EQ(predictByTiles(context, c.data, c.w, c.h, c.channels, c.tile, c.step, false, 1.0f, 1.0f, c.downscale,
                                 nullptr, nullptr),
                  nullptr);
        EXPECT_NE(context.errors().find(c.words), std::string::npos);
    }
    EXPECT_EQ(predictByTiles(nullptr, rgb.data(), 20, 20, 3, 16, 16, false, 1.0f, 1.0f, 1, nullptr, nullptr), nullptr);
}
