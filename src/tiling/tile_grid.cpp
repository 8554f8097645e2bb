#include "tiling/tile_grid.h"

#include <limits>

#include "image/image_records.h"

namespace {
// Share done before tile `done` of `count`, as the host sees it.
float tileProgress(int32_t done, int32_t count) {
    return static_cast<float>(done) / (static_cast<float>(count) / 100.0f);
}
}  // namespace

Expected<TileGrid> planTiles(const TileGeometry& g) {
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    if (g.tileSide < 1 || g.step < 1) return failure("the tile size and the step must be 1 or more");
    if (g.tileSide < g.step) return failure("the tile size must not be smaller than the step");
    if (g.tileSide > kMax || g.gridStep > kMax) return failure("the tile size or step is too large");
    // Whole-number ceilings: a float division can lose the last column of a
    // very wide image.
    const int64_t across = (g.width + g.gridStep - 1) / g.gridStep;
    const int64_t down = (g.height + g.gridStep - 1) / g.gridStep;
    if (across * down > kMax) return failure("the image needs more tiles than can be counted");
    if (imageBufferElements(g.tileSide, g.tileSide, g.tileChannels) < 0)
        return failure("the tile is too large to address");
    TileGrid grid;
    grid.margin = static_cast<int32_t>((g.tileSide - g.step) / 2);
    grid.step = static_cast<int32_t>(g.step);
    grid.across = static_cast<int32_t>(across);
    grid.down = static_cast<int32_t>(down);
    grid.count = static_cast<int32_t>(across * down);
    return grid;
}

void TileWalk::restrict(int32_t firstRow, int32_t endRow, int32_t countedFirst, int32_t countedEnd) {
    index_ = firstRow * grid_.across - 1;
    end_ = endRow * grid_.across;
    countedFrom_ = countedFirst * grid_.across;
    countedTo_ = countedEnd * grid_.across;
    done_ = countedFrom_;
}

bool TileWalk::next() {
    if (stopped_ || index_ + 1 >= end_) return false;
    if (callback_) {
        if (callback_(userData_, tileProgress(done_, grid_.count))) {
            stopped_ = true;
            return false;
        }
        if (index_ + 1 >= countedFrom_ && index_ + 1 < countedTo_) ++done_;
    }
    ++index_;
    tile_.column = index_ % grid_.across;
    tile_.row = index_ / grid_.across;
    tile_.originX = tile_.column * grid_.step;
    tile_.originY = tile_.row * grid_.step;
    tile_.left = tile_.originX - grid_.margin;
    tile_.top = tile_.originY - grid_.margin;
    return true;
}

Expected<ImageFloat> scaledSizes(int64_t width, int64_t height, int64_t scale, int64_t channels) {
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    const int64_t w = width * scale, h = height * scale;
    if (w > kMax || h > kMax || imageBufferElements(w, h, channels) < 0)
        return failure("the " + std::to_string(w) + " x " + std::to_string(h) + " result is too large to address");
    return ImageFloat{static_cast<int32_t>(w), static_cast<int32_t>(h), static_cast<int32_t>(channels), nullptr};
}
