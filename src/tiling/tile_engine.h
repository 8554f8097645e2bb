// The one tile loop of the library. A pipeline plans its grid and how the
// model takes tiles, then drives this loop through an adapter that says how
// a tile is filled from its source and what becomes of each result. Each
// tile is written once into the model's input, in the model's layout and
// element type, and each result is read once out of the model's output.
#pragma once

#include <cstdint>

#include "backend/ModelLogic.h"
#include "diagnostics/expected.h"
#include "tiling/model_tiles.h"
#include "tiling/tile_grid.h"
#include "tiling/tile_tensor.h"

// What failed, for the pipelines' own words (Failure::kind).
enum TileFailure : int {
    kModelFailure = 1,  // the model's run or result; words without a subject ("returned 0 channels")
    kModelException,    // the runtime raised an exception in the model's run; the words are its own
    kChannelsChanged,   // a result with another channel count than the first
    kAdapterFailure,    // the adapter's own words, to be reported as they stand
    kAdapterException,  // an exception outside the model's run; the words are its own
    kNoTileRoom,        // the model's input for a tile cannot be had
};

// What a pipeline does around the loop. Each operation fails with
// kAdapterFailure and its words, as they are to be reported.
class TileAdapter {
public:
    virtual ~TileAdapter() = default;
    // Writes the tile into the model's input.
    virtual Status fill(const Tile& tile, const TensorFrame& input) = 0;
    // After fill, just before the run.
    virtual Status beforeRun(const Tile& /*tile*/) { return Ok{}; }
    // The first result fixed the scale and channel count of the run's
    // results: room for what the run gives.
    virtual Status begin(int32_t scale, int32_t channels) = 0;
    // Keeps what the tile gives from its result.
    virtual Status store(const Tile& tile, const TensorFrame& result) = 0;

    // When the model's input is made: before the walk's first progress
    // call, or after it, at the first tile.
    bool roomAtFirstTile = false;

    // Passes over a whole tile's pixels (writes into the model's input, reads
    // out of its result, and any working copy between), counted by the
    // adapter: what one tile costs besides the model's run.
    int64_t copies = 0;
};

struct TileRunStats {
    int64_t tiles = 0;   // run through the model
    int64_t copies = 0;  // the adapter's count
};

// Runs the grid's tiles in the walk's order through the model. Stops without
// a failure when the walk is stopped (walk.stopped() says so).
Expected<TileRunStats> runTileEngine(ModelLogic& backend, ModelTiles& model, TileWalk& walk, TileAdapter& adapter);
