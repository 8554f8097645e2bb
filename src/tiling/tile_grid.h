// The grid of overlapping tiles and the walk over it with the host's progress
// and stop.
#pragma once

#include <cstdint>

#include "diagnostics/expected.h"
#include "image/image_records.h"
#include "velmora.h"

struct TileGrid {
    int32_t margin = 0;  // (tile side - step) / 2: each tile's overlap on either side
    int32_t step = 0;    // between tile origins where tiles are cut; the side each gives
    int32_t across = 0;
    int32_t down = 0;
    int32_t count = 0;  // across x down
};

struct TileGeometry {
    int64_t width, height;   // of the image the tiles are counted on
    int64_t tileSide, step;  // where tiles are cut
    int64_t gridStep;        // between tile origins on the width x height image
    int64_t tileChannels;
};

// The grid, or what is wrong with the tile arguments (sizes below 1, a tile
// smaller than its step, sizes or counts past 32 bits, a tile buffer that
// cannot be addressed).
Expected<TileGrid> planTiles(const TileGeometry& geometry);

struct Tile {
    int32_t column = 0, row = 0;
    int32_t originX = 0, originY = 0;  // where its contribution goes
    int32_t left = 0, top = 0;         // where it is cut: the origin less the margin
};

// The tiles in row order, columns fastest. Before each one the host's
// callback, if any, hears the share done; if it answers true the walk ends.
class TileWalk {
public:
    TileWalk(const TileGrid& grid, ProgressCallback callback, void* userData)
        : grid_(grid), callback_(callback), userData_(userData) {}

    // Walks only rows [firstRow, endRow) of the grid, a band of a picture
    // run a band at a time; progress counts rows [countedFirst, countedEnd)
    // of them, as shares of the whole grid.
    void restrict(int32_t firstRow, int32_t endRow, int32_t countedFirst, int32_t countedEnd);

    // Reports progress and moves on; false when done or stopped by the host.
    bool next();
    const Tile& tile() const { return tile_; }
    bool stopped() const { return stopped_; }
    // Tells the host the work is complete; its answer is not looked at.
    void finish() const {
        if (callback_) callback_(userData_, 100.0f);
    }

private:
    TileGrid grid_;
    ProgressCallback callback_;
    void* userData_;
    int32_t index_ = -1;
    int32_t end_ = grid_.count;
    int32_t countedFrom_ = 0, countedTo_ = grid_.count;
    int32_t done_ = 0;
    bool stopped_ = false;
    Tile tile_;
};

// Sizes of a run's result: the image's times the scale, when they can be
// addressed with `channels` channels.
Expected<ImageFloat> scaledSizes(int64_t width, int64_t height, int64_t scale, int64_t channels);
