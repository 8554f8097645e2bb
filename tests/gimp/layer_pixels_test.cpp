// Fitting a layer's channels to a model and the model's result back to the
// layer.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "layer_pixels.h"

namespace {

// Frees what the unit allocated, whatever the test's way out.
struct Pixels {
    VgPixels p{};
    Pixels() = default;
    Pixels(int32_t w, int32_t h, int32_t c, std::vector<float> values) {
        VgFailure failure{};
        if (!vgAllocPixels(&p, w, h, c, &failure)) throw std::runtime_error(failure.text);
        std::copy(values.begin(), values.end(), p.data);
    }
    ~Pixels() { vgFreePixels(&p); }
    Pixels(const Pixels&) = delete;
    Pixels& operator=(const Pixels&) = delete;
    std::vector<float> values() const {
        return p.data ? std::vector<float>(p.data, p.data + vgPixelCount(&p) * p.channels) : std::vector<float>{};
    }
};

struct Fitted {
    Pixels input, alpha;
    bool ok = false;
    std::string failure;
};

void fit(const Pixels& layer, int32_t modelChannels, float scale, Fitted& out) {
    VgFailure failure{};
    out.ok = vgFitToModel(&layer.p, modelChannels, scale, &out.input.p, &out.alpha.p, &failure);
    out.failure = failure.text;
}

}  // namespace

TEST(LayerPixels, ColourGoesAsItIsAndGrayIsRepeatedForAColourModel) {
    const Pixels rgb(2, 1, 3, {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f});
    Fitted same;
    fit(rgb, 3, 1.0f, same);
    ASSERT_TRUE(same.ok) << same.failure;
    EXPECT_EQ(same.input.values(), rgb.values());
    EXPECT_EQ(same.alpha.p.data, nullptr);

    const Pixels gray(2, 1, 1, {0.25f, 0.75f});
    Fitted repeated;
    fit(gray, 3, 2.0f, repeated);
    ASSERT_TRUE(repeated.ok) << repeated.failure;
    EXPECT_EQ(repeated.input.p.channels, 3);
    EXPECT_EQ(repeated.input.values(), (std::vector<float>{0.5f, 0.5f, 0.5f, 1.5f, 1.5f, 1.5f}));

    Fitted unknown;
    fit(gray, 0, 1.0f, unknown);
    ASSERT_TRUE(unknown.ok);
    EXPECT_EQ(unknown.input.values(), gray.values());
}

TEST(LayerPixels, AlphaIsKeptAsideUnlessTheModelTakesIt) {
    const Pixels rgba(2, 1, 4, {0.1f, 0.2f, 0.3f, 0.0f, 0.4f, 0.5f, 0.6f, 0.9f});
    Fitted aside;
    fit(rgba, 3, 0.5f, aside);
    ASSERT_TRUE(aside.ok) << aside.failure;
    EXPECT_EQ(aside.input.values(), (std::vector<float>{0.05f, 0.1f, 0.15f, 0.2f, 0.25f, 0.3f}));
    EXPECT_EQ(aside.alpha.p.channels, 1);
    EXPECT_EQ(aside.alpha.values(), (std::vector<float>{0.0f, 0.9f}));  // not scaled

    Fitted taken;
    fit(rgba, 4, 1.0f, taken);
    ASSERT_TRUE(taken.ok);
    EXPECT_EQ(taken.input.values(), rgba.values());
    EXPECT_EQ(taken.alpha.p.data, nullptr);

    const Pixels rgb(1, 1, 3, {0.1f, 0.2f, 0.3f});
    Fitted opaque;
    fit(rgb, 4, 2.0f, opaque);
    ASSERT_TRUE(opaque.ok);
    EXPECT_EQ(opaque.input.values(), (std::vector<float>{0.2f, 0.4f, 0.6f, 2.0f}));

    const Pixels grayAlpha(1, 1, 2, {0.3f, 0.6f});
    Fitted grayAside;
    fit(grayAlpha, 1, 1.0f, grayAside);
    ASSERT_TRUE(grayAside.ok);
    EXPECT_EQ(grayAside.input.values(), (std::vector<float>{0.3f}));
    EXPECT_EQ(grayAside.alpha.values(), (std::vector<float>{0.6f}));
    Fitted grayToRgba;
    fit(grayAlpha, 4, 1.0f, grayToRgba);
    ASSERT_TRUE(grayToRgba.ok);
    EXPECT_EQ(grayToRgba.input.values(), (std::vector<float>{0.3f, 0.3f, 0.3f, 0.6f}));
}

TEST(LayerPixels, ChannelCountsThatDoNotFitAreRefused) {
    const Pixels rgb(1, 1, 3, {0.1f, 0.2f, 0.3f});
    Fitted gray;
    fit(rgb, 1, 1.0f, gray);
    EXPECT_FALSE(gray.ok);
    EXPECT_NE(gray.failure.find("Image > Mode > Grayscale"), std::string::npos);
    EXPECT_EQ(gray.input.p.data, nullptr);
    Fitted two;
    fit(rgb, 2, 1.0f, two);
    EXPECT_FALSE(two.ok);
    EXPECT_NE(two.failure.find("the model takes gray pixels and the layer is RGB"), std::string::npos);
    Fitted many;
    fit(rgb, 6, 1.0f, many);
    EXPECT_FALSE(many.ok);
    EXPECT_NE(many.failure.find("takes 6 channels per pixel and the layer is RGB"), std::string::npos);
}

TEST(LayerPixels, TheResultIsArrangedForTheLayer) {
    VgFailure failure{};
    const Pixels rgb(2, 1, 3, {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f});
    const Pixels alpha(2, 1, 1, {0.25f, 1.0f});
    Pixels plain, withKept, opaque;
    ASSERT_TRUE(vgResultForLayer(&rgb.p, 2.0f, false, nullptr, &plain.p, &failure)) << failure.text;
    EXPECT_EQ(plain.values(), (std::vector<float>{0.2f, 0.4f, 0.6f, 0.8f, 1.0f, 1.2f}));
    ASSERT_TRUE(vgResultForLayer(&rgb.p, 1.0f, true, &alpha.p, &withKept.p, &failure));
    EXPECT_EQ(withKept.values(), (std::vector<float>{0.1f, 0.2f, 0.3f, 0.25f, 0.4f, 0.5f, 0.6f, 1.0f}));
    ASSERT_TRUE(vgResultForLayer(&rgb.p, 1.0f, true, nullptr, &opaque.p, &failure));
    EXPECT_EQ(opaque.values(), (std::vector<float>{0.1f, 0.2f, 0.3f, 1.0f, 0.4f, 0.5f, 0.6f, 1.0f}));

    // A model that gives alpha: its own alpha, scaled like the rest; dropped
    // for a layer without alpha.
    const Pixels rgba(1, 1, 4, {0.1f, 0.2f, 0.3f, 0.4f});
    Pixels own, dropped;
    EXPECT_FALSE(vgResultForLayer(&rgba.p, 2.0f, true, &alpha.p, &own.p, &failure));  // alpha of another size
    const Pixels oneAlpha(1, 1, 1, {0.9f});
    ASSERT_TRUE(vgResultForLayer(&rgba.p, 2.0f, true, &oneAlpha.p, &own.p, &failure)) << failure.text;
    EXPECT_EQ(own.values(), (std::vector<float>{0.2f, 0.4f, 0.6f, 0.8f}));
    ASSERT_TRUE(vgResultForLayer(&rgba.p, 1.0f, false, nullptr, &dropped.p, &failure));
    EXPECT_EQ(dropped.values(), (std::vector<float>{0.1f, 0.2f, 0.3f}));

    const Pixels gray(1, 1, 1, {0.5f});
    Pixels grayAlpha;
    ASSERT_TRUE(vgResultForLayer(&gray.p, 1.0f, true, &oneAlpha.p, &grayAlpha.p, &failure));
    EXPECT_EQ(grayAlpha.values(), (std::vector<float>{0.5f, 0.9f}));

    const Pixels five(1, 1, 5, {1, 2, 3, 4, 5});
    Pixels refused;
    EXPECT_FALSE(vgResultForLayer(&five.p, 1.0f, false, nullptr, &refused.p, &failure));
    EXPECT_NE(std::string(failure.text).find("gives 5 channels per pixel"), std::string::npos);
    EXPECT_EQ(refused.p.data, nullptr);
}

TEST(LayerPixels, CropsRectanglesInsideOnly) {
    std::vector<float> values;
    for (int i = 0; i < 4 * 3 * 2; ++i) values.push_back(static_cast<float>(i));
    const Pixels p(4, 3, 2, values);
    Pixels crop;
    VgFailure failure{};
    ASSERT_TRUE(vgCropPixels(&p.p, 1, 1, 2, 2, &crop.p, &failure)) << failure.text;
    EXPECT_EQ(crop.values(), (std::vector<float>{10, 11, 12, 13, 18, 19, 20, 21}));
    Pixels whole;
    ASSERT_TRUE(vgCropPixels(&p.p, 0, 0, 4, 3, &whole.p, &failure));
    EXPECT_EQ(whole.values(), values);
    Pixels outside;
    EXPECT_FALSE(vgCropPixels(&p.p, 3, 0, 2, 1, &outside.p, &failure));
    EXPECT_FALSE(vgCropPixels(&p.p, 0, 2, 1, 2, &outside.p, &failure));
    EXPECT_FALSE(vgCropPixels(&p.p, -1, 0, 1, 1, &outside.p, &failure));
    EXPECT_FALSE(vgCropPixels(&p.p, 0, 0, 0, 1, &outside.p, &failure));
    EXPECT_EQ(outside.p.data, nullptr);
}

TEST(LayerPixels, OnlySameSizedOrWholeMultipleResultsCanBePlaced) {
    int32_t scale = -1;
    VgFailure failure{};
    EXPECT_TRUE(vgResultScale(300, 190, 300, 190, &scale, &failure));
    EXPECT_EQ(scale, 1);
    EXPECT_TRUE(vgResultScale(300, 190, 1200, 760, &scale, &failure));
    EXPECT_EQ(scale, 4);
    EXPECT_FALSE(vgResultScale(300, 190, 600, 570, &scale, &failure));
    EXPECT_NE(std::string(failure.text).find("600 x 570 pixels for 300 x 190"), std::string::npos);
    EXPECT_FALSE(vgResultScale(300, 190, 450, 285, &scale, &failure));
    EXPECT_FALSE(vgResultScale(300, 190, 150, 95, &scale, &failure));
    EXPECT_FALSE(vgResultScale(300, 190, 0, 0, &scale, &failure));
}

TEST(LayerPixels, SizesBeyondMemoryAreRefusedNotWrapped) {
    VgPixels p;
    VgFailure failure{};
    EXPECT_FALSE(vgAllocPixels(&p, INT32_MAX, INT32_MAX, 4, &failure));
    EXPECT_EQ(p.data, nullptr);
    EXPECT_FALSE(std::string(failure.text).empty());
    EXPECT_FALSE(vgAllocPixels(&p, 0, 5, 3, &failure));
    EXPECT_FALSE(vgAllocPixels(&p, 5, 5, 0, &failure));
}
