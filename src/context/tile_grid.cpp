#include "context/tile_grid.h"

#include <limits>

std::string planTiles(int64_t width, int64_t height, int64_t tileSide, int64_t contribution, int64_t gridStep,
                      TileGrid& grid) {
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    if (contribution < 1) return "the step must be 1 or more";
    if (tileSide < contribution) return "the tile size must not be smaller than the step";
    if (tileSide > kMax || gridStep > kMax) return "the tile size or step is too large";
    // Whole-number ceilings: a float division can lose the last column of a
    // very wide image.
    const int64_t across = (width + gridStep - 1) / gridStep;
    const int64_t down = (height + gridStep - 1) / gridStep;
    if (across * down > kMax) return "the image needs more tiles than can be counted";
    grid.margin = static_cast<int32_t>((tileSide - contribution) / 2);
    grid.across = static_cast<int32_t>(across);
    grid.down = static_cast<int32_t>(down);
    grid.count = static_cast<int32_t>(across * down);
    return {};
}
