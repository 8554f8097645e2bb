// A picture run a band of tile rows at a time: which tile rows a band runs,
// which picture rows it is cut from and which result rows it finishes. The
// bands' grid is the whole picture's, so that their results are the whole
// run's rows. Shrunk by K, a band is cut from whole rows of the shrunk
// picture (K picture rows each) and its result is enlarged from the shrunk
// rows it finishes and the next one.
//
// Blended and shrunk bands share a row of tiles with the next band. A band
// that follows on from the one before it starts from the stitched rows that
// one kept (`kept...`), so that each tile runs once.
#pragma once

#include <cstdint>

#include "diagnostics/expected.h"
#include "tiling/tile_grid.h"

struct BandLayout {
    int32_t index = 0, count = 0;
    int32_t firstTileRow = 0, endTileRow = 0;        // the rows of tiles the band is made of
    int32_t runFirstRow = 0, runEndRow = 0;          // the rows of tiles it runs (more for blending and enlarging)
    int64_t inputFirstRow = 0, inputRows = 0;        // picture rows its tiles are cut from
    int64_t workingFirstRow = 0, workingRows = 0;    // rows of the (shrunk) picture those are
    int64_t stitchedFirstRow = 0, stitchedRows = 0;  // rows of the (shrunk) result it stitches
    int64_t resultFirstRow = 0, resultRows = 0;      // picture rows it finishes (times the scale in the result)
    int32_t followOnRow = 0;                         // the first row of tiles it runs after the band before
    int64_t keptFirstRow = 0, keptRows = 0;          // stitched rows it keeps for the next band (none: 0)
    int64_t heldRows = 0;                            // stitched rows it holds while it runs, from stitchedFirstRow
};

// Tile rows per band when the host leaves it to the library: enough that a
// band is a few hundred rows high.
int32_t defaultBandTileRows(const TileGrid& grid);

// The layout of band `index` of a `height`-row picture shrunk by `shrink`
// (1: not) and cut in `tileSide` tiles on `grid`, `tileRows` tile rows a
// band; or why there is none.
Expected<BandLayout> bandLayout(const TileGrid& grid, int64_t height, int32_t shrink, int32_t tileSide, bool blend,
                                int32_t tileRows, int32_t index);
