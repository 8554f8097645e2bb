// Choosing a plan from what a model needs: margins that cover its reach at
// its sizes, the whole picture for a model that reads it whole, blending
// where a fixed tile cannot afford the margins, and words that name the fix.
#include "tiling/plan_choice.h"

#include <gtest/gtest.h>

namespace {

ModelNeeds openModel(int32_t multiple, int32_t reach) {
    ModelNeeds n;
    n.multiple = multiple;
    n.smallestSide = 64;
    n.reach = reach;
    n.outputChannels = 1;
    // A run costs the same per pixel at every side.
    n.costs = {{256, 0.026}, {512, 0.104}, {1024, 0.416}};
    return n;
}

ModelNeeds fixedModel(int32_t side, int32_t reach) {
    ModelNeeds n;
    n.fixedSide = true;
    n.multiple = n.smallestSide = side;
    n.reach = reach;
    n.outputChannels = 3;
    n.costs = {{side, 0.01}};
    return n;
}

PlanWishes picture(int32_t w, int32_t h) {
    PlanWishes p;
    p.width = w;
    p.height = h;
    p.channels = 3;
    return p;
}

}  // namespace

TEST(PlanChoice, TilesCoverTheReachAtSidesTheModelTakes) {
    const Expected<ChosenPlan> plan = choosePlan(openModel(32, 27), picture(3840, 3056));
    ASSERT_TRUE(plan) << plan.message();
    EXPECT_EQ(plan->strategy, Strategy::Tiles);
    EXPECT_EQ(plan->margin, 32);  // the reach, rounded up to the model's multiple
    EXPECT_EQ(plan->tileSize % 32, 0);
    EXPECT_EQ(plan->step, plan->tileSize - 64);
    EXPECT_FALSE(plan->blend);
    EXPECT_EQ(plan->runs, int64_t{plan->across} * plan->down);
    EXPECT_GE(int64_t{plan->across} * plan->step, 3840);
    // At a flat cost per pixel, larger tiles waste less on margins.
    EXPECT_GE(plan->tileSize, 512);

    // A small picture fits one tile.
    const Expected<ChosenPlan> small = choosePlan(openModel(32, 27), picture(200, 150));
    ASSERT_TRUE(small);
    EXPECT_EQ(small->runs, 1);
}

TEST(PlanChoice, AModelThatReadsThePictureWholeRunsOnce) {
    ModelNeeds fixed = fixedModel(256, 128);
    fixed.wholePicture = true;
    const Expected<ChosenPlan> plan = choosePlan(fixed, picture(2000, 1500));
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->strategy, Strategy::WholePicture);
    EXPECT_EQ(plan->runWidth, 256);
    EXPECT_EQ(plan->runHeight, 256);
    EXPECT_EQ(plan->runs, 1);

    ModelNeeds open = openModel(32, 0);
    open.wholePicture = true;
    PlanWishes tight = picture(4000, 3000);
    const Expected<ChosenPlan> full = choosePlan(open, tight);
    ASSERT_TRUE(full);
    EXPECT_EQ(full->runWidth, 4000);
    EXPECT_EQ(full->runHeight, 3008);  // up to the model's multiple
    tight.memoryBudget = uint64_t{1} << 30;
    const Expected<ChosenPlan> shrunk = choosePlan(open, tight);
    ASSERT_TRUE(shrunk);
    EXPECT_LT(shrunk->runWidth, 4000);
    EXPECT_LE(shrunk->peakBytes, tight.memoryBudget);
}

TEST(PlanChoice, AFixedTileBlendsWhereItCannotAffordTheReach) {
    const Expected<ChosenPlan> plan = choosePlan(fixedModel(64, 40), picture(300, 200));
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->tileSize, 64);
    EXPECT_EQ(plan->margin, 16);  // a quarter of the tile at most
    EXPECT_TRUE(plan->blend);
    const Expected<ChosenPlan> covered = choosePlan(fixedModel(64, 8), picture(300, 200));
    ASSERT_TRUE(covered);
    EXPECT_EQ(covered->margin, 8);
    EXPECT_FALSE(covered->blend);
}

TEST(PlanChoice, WishesThatDoNotFitAreRefusedWithTheFix) {
    PlanWishes odd = picture(1000, 800);
    odd.tileSize = 250;
    EXPECT_EQ(choosePlan(openModel(32, 27), odd).message(),
              "the model takes tiles that are multiples of 32; 250 is not; try 256");
    PlanWishes wrong = picture(1000, 800);
    wrong.tileSize = 128;
    EXPECT_EQ(choosePlan(fixedModel(256, 0), wrong).message(),
              "the model takes tiles of 256 x 256 pixels; 128 is not; try 256");
    PlanWishes step = picture(1000, 800);
    step.tileSize = 256;
    step.step = 300;
    EXPECT_FALSE(choosePlan(openModel(32, 27), step));
}
