#include "tiling/bands.h"

#include <algorithm>
#include <string>

int32_t defaultBandTileRows(const TileGrid& grid) {
    return std::max(1, (512 + grid.step - 1) / std::max(1, grid.step));
}

Expected<BandLayout> bandLayout(const TileGrid& grid, int64_t height, int32_t tileSide, bool blend, int32_t tileRows,
                                int32_t index) {
    if (tileRows <= 0) return failure("a band must be at least one row of tiles");
    BandLayout b;
    b.count = (grid.down + tileRows - 1) / tileRows;
    if (index < 0 || index >= b.count)
        return failure("the picture has " + std::to_string(b.count) + " bands; there is no band " +
                       std::to_string(index));
    b.index = index;
    b.firstTileRow = index * tileRows;
    b.endTileRow = std::min(grid.down, b.firstTileRow + tileRows);
    // Blended rows near a band's border take shares from the tiles across it.
    b.runFirstRow = blend ? std::max(0, b.firstTileRow - 1) : b.firstTileRow;
    b.runEndRow = blend ? std::min(grid.down, b.endTileRow + 1) : b.endTileRow;
    const int64_t step = grid.step, margin = grid.margin;
    b.inputFirstRow = std::max<int64_t>(0, b.runFirstRow * step - margin);
    const int64_t inputEnd = std::min<int64_t>(height, (b.runEndRow - 1) * step - margin + tileSide);
    b.inputRows = inputEnd - b.inputFirstRow;
    b.resultFirstRow = b.firstTileRow * step;
    b.resultRows = std::min<int64_t>(height, b.endTileRow * step) - b.resultFirstRow;
    return b;
}
