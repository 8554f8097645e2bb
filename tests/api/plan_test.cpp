// Runs by plan through the exports: a plan the library chooses matches one
// run of the model on the whole picture away from its edge, blended overlaps
// sum to the model's result, and a model that reads the picture whole runs
// once on it.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "api/host.h"

namespace {

std::vector<float> picture(int w, int h, int c) {
    std::vector<float> v(static_cast<size_t>(w) * h * c);
    uint32_t s = 7;
    for (size_t i = 0; i < v.size(); ++i) {
        s = s * 1664525u + 1013904223u;
        v[i] = static_cast<float>((s >> 8) % 1000) / 999.0f;
    }
    return v;
}

VelmoraPlan plan(HostContext& host, int w, int h, int c, int tile = 0, int step = 0, int blend = VELMORA_BLEND_AUTO,
                 const ImageFloat* sample = nullptr) {
    VelmoraPlanRequest r{};
    r.size = sizeof r;
    r.width = w;
    r.height = h;
    r.channels = c;
    r.tileSize = tile;
    r.step = step;
    r.blend = blend;
    r.sample = sample;
    VelmoraPlan p{};
    p.size = sizeof p;
    testing::internal::CaptureStdout();
    const bool made = velmoraPlan(host, &r, &p);
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(made) << host.errors();
    return p;
}

ImageFloat predicted(HostContext& host, std::vector<float>& image, int w, int h, int c, const VelmoraPlan& p) {
    testing::internal::CaptureStdout();
    const ImageFloat out = velmoraPredict(host, ImageFloat{w, h, c, image.data()}, &p, nullptr, nullptr);
    testing::internal::GetCapturedStdout();
    return out;
}

}  // namespace

TEST(Plans, APlannedRunMatchesTheWholePictureAwayFromItsEdge) {
    HostContext host;
    ASSERT_TRUE(host.load("conv5_open.onnx"));
    const int w = 300, h = 200;
    std::vector<float> image = picture(w, h, 3);
    const ImageFloat sample{w, h, 3, image.data()};
    const VelmoraPlan p = plan(host, w, h, 3, 0, 0, VELMORA_BLEND_AUTO, &sample);
    EXPECT_EQ(p.strategy, VELMORA_STRATEGY_TILES);
    EXPECT_GE(p.margin, 5);
    // Tiles small enough that the picture needs several.
    VelmoraPlan several = plan(host, w, h, 3, 64, 64 - 2 * p.margin);
    ASSERT_GT(several.runs, 1);
    const ImageFloat out = predicted(host, image, w, h, 3, several);
    ASSERT_NE(out.data, nullptr) << host.errors();
    const std::vector<float> tiled(out.data, out.data + static_cast<size_t>(w) * h * 3);

    // The model on the whole picture, in its own (planar) layout.
    std::vector<float> planar(image.size());
    for (int i = 0; i < w * h; ++i)
        for (int ch = 0; ch < 3; ++ch)
            planar[static_cast<size_t>(ch) * w * h + i] = image[static_cast<size_t>(i) * 3 + ch];
    testing::internal::CaptureStdout();
    const float* whole = predictFloat(host, planar.data(), w, h, 3, false);
    testing::internal::GetCapturedStdout();
    ASSERT_NE(whole, nullptr);
    float worst = 0;
    for (int y = 8; y < h - 8; ++y)
        for (int x = 8; x < w - 8; ++x)
            for (int ch = 0; ch < 3; ++ch)
                worst = std::max(worst, std::fabs(tiled[(static_cast<size_t>(y) * w + x) * 3 + ch] -
                                                  whole[static_cast<size_t>(ch) * w * h + y * w + x]));
    EXPECT_LE(worst, 1e-5f);
}

TEST(Plans, BlendedOverlapsSumToTheModelsResult) {
    HostContext host;
    ASSERT_TRUE(host.load("open_dims.onnx"));  // the identity
    const int w = 150, h = 90;
    std::vector<float> image = picture(w, h, 3);
    const VelmoraPlan p = plan(host, w, h, 3, 64, 40, VELMORA_BLEND_ON);
    EXPECT_TRUE(p.blend);
    const ImageFloat out = predicted(host, image, w, h, 3, p);
    ASSERT_NE(out.data, nullptr) << host.errors();
    float worst = 0;
    size_t rounded = 0;  // values that went through the weights' arithmetic
    for (size_t i = 0; i < image.size(); ++i) {
        worst = std::max(worst, std::fabs(out.data[i] - image[i]));
        rounded += out.data[i] != image[i];
    }
    EXPECT_LE(worst, 1e-6f);
    EXPECT_GT(rounded, 0u);
}

TEST(Plans, AModelThatReadsThePictureWholeRunsOnceOnIt) {
    HostContext host;
    ASSERT_TRUE(host.load("global_mix_t256.onnx"));
    const int w = 600, h = 300;
    std::vector<float> image = picture(w, h, 3);
    const VelmoraPlan p = plan(host, w, h, 3);
    EXPECT_EQ(p.strategy, VELMORA_STRATEGY_WHOLE) << p.reason;
    EXPECT_EQ(p.runs, 1);
    const ImageFloat out = predicted(host, image, w, h, 3, p);
    ASSERT_NE(out.data, nullptr) << host.errors();
    EXPECT_EQ(out.width, w);
    EXPECT_EQ(out.height, h);
    EXPECT_EQ(out.numChannels, 1);

    // A plan made for other sizes is refused, with words.
    std::vector<float> other = picture(200, 100, 3);
    EXPECT_EQ(predicted(host, other, 200, 100, 3, p).data, nullptr);
    EXPECT_NE(host.errors().find("velmoraPredict: the plan is for a 600 x 300 x 3 picture; this one is 200 x 100 x 3"),
              std::string::npos);
}
