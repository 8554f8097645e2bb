#include "tiling/tile_grid.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

struct Heard {
    std::vector<float> percents;
    int stopAt = -1;  // index of the call that answers true
    static bool record(void* self, float percent) {
        auto* h = static_cast<Heard*>(self);
        h->percents.push_back(percent);
        return static_cast<int>(h->percents.size()) - 1 == h->stopAt;
    }
};

}  // namespace

TEST(TileGrid, CountsOnTheGivenImageAndCutsWithTheTilesStep) {
    // 100 x 50, tile 64, step 48: margin 8, 3 x 2 tiles.
    const Expected<TileGrid> plain = planTiles({100, 50, 64, 48, 48, 3});
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->margin, 8);
    EXPECT_EQ(plain->step, 48);
    EXPECT_EQ(plain->across, 3);
    EXPECT_EQ(plain->down, 2);
    EXPECT_EQ(plain->count, 6);
    // Counted on a 1001 x 600 image with 2 x 250 while tiles are cut 250
    // apart: 3 x 2, the margin from the tile and its own step.
    const Expected<TileGrid> shrunk = planTiles({1001, 600, 256, 250, 500, 3});
    ASSERT_TRUE(shrunk);
    EXPECT_EQ(shrunk->margin, 3);
    EXPECT_EQ(shrunk->step, 250);
    EXPECT_EQ(shrunk->across, 3);
    EXPECT_EQ(shrunk->down, 2);
}

TEST(TileGrid, RefusesWhatCannotBeCutOrCounted) {
    struct Case {
        TileGeometry geometry;
        const char* message;
    };
    const Case cases[] = {
        {{20, 20, 0, 16, 16, 1}, "the tile size and the step must be 1 or more"},
        {{20, 20, 16, -1, 16, 1}, "the tile size and the step must be 1 or more"},
        {{20, 20, 8, 16, 16, 1}, "the tile size must not be smaller than the step"},
        {{20, 20, int64_t{1} << 31, 16, 16, 1}, "the tile size or step is too large"},
        {{20, 20, 16, 16, int64_t{1} << 31, 1}, "the tile size or step is too large"},
        {{int64_t{1} << 31, int64_t{1} << 31, 16, 1, 1, 1}, "the image needs more tiles than can be counted"},
        {{20, 20, INT32_MAX, 16, 16, 4}, "the tile is too large to address"},
    };
    for (const Case& c : cases) {
        const Expected<TileGrid> grid = planTiles(c.geometry);
        ASSERT_FALSE(grid) << c.message;
        EXPECT_EQ(grid.message(), c.message);
    }
}

TEST(TileWalk, VisitsRowsInOrderReportingProgressBeforeEachTile) {
    const TileGrid grid = *planTiles({100, 50, 64, 48, 48, 3});
    Heard heard;
    TileWalk walk(grid, Heard::record, &heard);
    std::vector<std::vector<int32_t>> seen;
    while (walk.next()) {
        const Tile& t = walk.tile();
        seen.push_back({t.column, t.row, t.originX, t.originY, t.left, t.top});
    }
    EXPECT_FALSE(walk.stopped());
    const std::vector<std::vector<int32_t>> expected = {
        {0, 0, 0, 0, -8, -8},  {1, 0, 48, 0, 40, -8},  {2, 0, 96, 0, 88, -8},
        {0, 1, 0, 48, -8, 40}, {1, 1, 48, 48, 40, 40}, {2, 1, 96, 48, 88, 40},
    };
    EXPECT_EQ(seen, expected);
    std::vector<float> percents;
    for (int i = 0; i < 6; ++i) percents.push_back(static_cast<float>(i) / (6.0f / 100.0f));
    EXPECT_EQ(heard.percents, percents);
    walk.finish();
    EXPECT_EQ(heard.percents.back(), 100.0f);
    EXPECT_FALSE(walk.next());  // done stays done
}

TEST(TileWalk, AHostThatAsksToStopEndsTheWalkBeforeThatTile) {
    const TileGrid grid = *planTiles({100, 50, 64, 48, 48, 3});
    Heard heard;
    heard.stopAt = 2;
    TileWalk walk(grid, Heard::record, &heard);
    int tiles = 0;
    while (walk.next()) ++tiles;
    EXPECT_EQ(tiles, 2);
    EXPECT_TRUE(walk.stopped());
    EXPECT_FALSE(walk.next());
    EXPECT_EQ(heard.percents.size(), 3u);  // not asked again

    // Without a callback every tile runs and nothing is reported.
    TileWalk silent(grid, nullptr, nullptr);
    tiles = 0;
    while (silent.next()) ++tiles;
    silent.finish();
    EXPECT_EQ(tiles, 6);
}
