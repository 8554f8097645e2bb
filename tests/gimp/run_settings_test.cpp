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

std::string failureOf(const VgRunSettings& settings, int32_t tile, int32_t plannedTile = 0) {
    VgTiling tiling;
    VgFailure failure{};
    const VgModelFit fit = fitOf(tile);
    if (vgResolveTiling(&settings, &fit, plannedTile, &tiling, &failure)) return "";
    return failure.text;
}

VgTiling tilingOf(const VgRunSettings& settings, int32_t modelTile, int32_t plannedTile = 0) {
    VgTiling tiling{};
    VgFailure failure{};
    const VgModelFit fit = fitOf(modelTile);
    EXPECT_TRUE(vgResolveTiling(&settings, &fit, plannedTile, &tiling, &failure)) << failure.text;
    return tiling;
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

TEST(RunSettings, TileAndStepLeftZeroAreThePlansAndGivenOnesAreBothGiven) {
    VgRunSettings s;
    vgDefaultSettings(&s);
    s.downscale = -3;
    s.inputScale = 0.25;
    s.outputScale = 4.0;
    VgTiling t = tilingOf(s, 128);
    EXPECT_EQ(t.tile, 0);
    EXPECT_EQ(t.step, 0);
    EXPECT_EQ(t.downscale, -3);
    EXPECT_EQ(t.inputScale, 0.25f);
    EXPECT_EQ(t.outputScale, 4.0f);

    // A step alone: the model's own side, or the plan's for a model of any.
    s.step = 100;
    const VgModelFit fixed = fitOf(128), open = fitOf(0);
    EXPECT_FALSE(vgNeedsPlannedTile(&s, &fixed));
    EXPECT_TRUE(vgNeedsPlannedTile(&s, &open));
    t = tilingOf(s, 128);
    EXPECT_EQ(t.tile, 128);
    EXPECT_EQ(t.step, 100);
    t = tilingOf(s, 0, 160);
    EXPECT_EQ(t.tile, 160);
    EXPECT_EQ(t.step, 100);
    EXPECT_NE(failureOf(s, 0, 0).find("give a tile size with the step"), std::string::npos);

    // A tile alone: the step leaves a sixteenth of it on each side.
    s.step = 0;
    s.tile = 128;
    EXPECT_FALSE(vgNeedsPlannedTile(&s, &open));
    t = tilingOf(s, 0);
    EXPECT_EQ(t.tile, 128);
    EXPECT_EQ(t.step, 112);
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
    s.tile = -1;
    EXPECT_NE(failureOf(s, 0).find("tile size must be positive"), std::string::npos);
    s.tile = 0;
    s.output = 3;
    EXPECT_NE(failureOf(s, 64).find("the output must be 0"), std::string::npos);
    s.output = VG_OUTPUT_MASK;
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
