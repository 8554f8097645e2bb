// The run's options checked against the model and turned into the library's
// arguments.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "run_settings.h"

namespace {

VgModelFit fitOf(int32_t tile) {
    VgModelFit fit{};
    fit.tile = tile;
    return fit;
}

std::string failureOf(const VgRunSettings& settings, int32_t tile) {
    VgTiling tiling;
    VgFailure failure{};
    const VgModelFit fit = fitOf(tile);
    if (vgResolveTiling(&settings, &fit, &tiling, &failure)) return "";
    return failure.text;
}

}  // namespace

TEST(RunSettings, TheDefaultStepLeavesASixteenthOfTheTileOnEachSide) {
    EXPECT_EQ(vgDefaultStep(128), 112);
    EXPECT_EQ(vgDefaultStep(256), 224);
    EXPECT_EQ(vgDefaultStep(16), 14);
    EXPECT_EQ(vgDefaultStep(24), 22);
    EXPECT_EQ(vgDefaultStep(8), 8);  // too small to leave margins
    EXPECT_EQ(vgDefaultStep(1), 1);
}

TEST(RunSettings, ResolvesTheLibrarysArguments) {
    VgRunSettings s;
    vgDefaultSettings(&s);
    s.step = 100;
    s.downscale = -3;
    s.inputScale = 0.25;
    s.outputScale = 4.0;
    VgTiling t;
    VgFailure failure{};
    const VgModelFit fit = fitOf(128);
    ASSERT_TRUE(vgResolveTiling(&s, &fit, &t, &failure)) << failure.text;
    EXPECT_EQ(t.tile, 128);
    EXPECT_EQ(t.step, 100);
    EXPECT_EQ(t.downscale, -3);
    EXPECT_EQ(t.inputScale, 0.25f);
    EXPECT_EQ(t.outputScale, 4.0f);

    s.step = 0;
    ASSERT_TRUE(vgResolveTiling(&s, &fit, &t, &failure));
    EXPECT_EQ(t.step, 112);
    s.step = 128;
    ASSERT_TRUE(vgResolveTiling(&s, &fit, &t, &failure));
    EXPECT_EQ(t.step, 128);
}

TEST(RunSettings, RefusesOptionsTheLibraryCannotTake) {
    VgRunSettings s;
    vgDefaultSettings(&s);
    EXPECT_EQ(failureOf(s, 64), "");
    s.step = 65;
    EXPECT_NE(failureOf(s, 64).find("the step (65) must be between 1 and the tile size (64)"), std::string::npos);
    s.step = -4;
    EXPECT_NE(failureOf(s, 64).find("the step (-4)"), std::string::npos);
    s.step = 0;
    EXPECT_NE(failureOf(s, 0).find("tile size must be positive"), std::string::npos);
    s.downscale = 0;
    EXPECT_NE(failureOf(s, 64).find("downscale factor must be"), std::string::npos);
    s.downscale = 5000;
    EXPECT_NE(failureOf(s, 64).find("out of range"), std::string::npos);
    s.downscale = 1;
    s.inputScale = NAN;
    EXPECT_NE(failureOf(s, 64).find("scales must be finite"), std::string::npos);
    s.inputScale = 1;
    s.outputScale = INFINITY;
    EXPECT_NE(failureOf(s, 64).find("scales must be finite"), std::string::npos);
    s.outputScale = 1e39;  // beyond a float
    EXPECT_NE(failureOf(s, 64).find("scales must be finite"), std::string::npos);
    s.outputScale = 0;
    EXPECT_NE(failureOf(s, 64).find("other than 0"), std::string::npos);
}

TEST(RunSettings, TheContextAroundASelectionIsTheDiscardedMarginAtFullScale) {
    const VgTiling plain{128, 112, 1, 1, 1};
    EXPECT_EQ(vgContextMargin(&plain), 8);
    const VgTiling shrunk{128, 100, -3, 1, 1};
    EXPECT_EQ(vgContextMargin(&shrunk), 42);
    const VgTiling two{64, 64, 2, 1, 1};
    EXPECT_EQ(vgContextMargin(&two), 0);
    const VgTiling minusOne{64, 32, -1, 1, 1};
    EXPECT_EQ(vgContextMargin(&minusOne), 16);
}
