#include "tiling/bands.h"

#include <algorithm>
#include <string>

int32_t defaultBandTileRows(const TileGrid& grid) {
    return std::max(1, (512 + grid.step - 1) / std::max(1, grid.step));
}

Expected<BandLayout> bandLayout(const TileGrid& grid, int64_t height, int32_t shrink, int32_t tileSide, bool blend,
                                int32_t tileRows, int32_t index) {
    if (tileRows <= 0) return failure("a band must be at least one row of tiles");
    BandLayout b;
    b.count = (grid.down + tileRows - 1) / tileRows;
    if (index < 0 || index >= b.count)
        return failure("the picture has " + std::to_string(b.count) + " bands; there is no band " +
                       std::to_string(index));
    const int64_t k = std::max(1, shrink);
    const int64_t working = k > 1 ? height / k : height;
    b.index = index;
    b.firstTileRow = index * tileRows;
    b.endTileRow = std::min(grid.down, b.firstTileRow + tileRows);
    // Blended rows near a band's border take shares from the tiles across
    // it; an enlarged row reads the next band's first shrunk row.
    b.runFirstRow = blend ? std::max(0, b.firstTileRow - 1) : b.firstTileRow;
    b.runEndRow = blend || k > 1 ? std::min(grid.down, b.endTileRow + 1) : b.endTileRow;
    const int64_t step = grid.step, margin = grid.margin;
    b.workingFirstRow = std::min(working, std::max<int64_t>(0, b.runFirstRow * step - margin));
    const int64_t workingEnd = std::min(working, (b.runEndRow - 1) * step - margin + tileSide);
    b.workingRows = std::max<int64_t>(0, workingEnd - b.workingFirstRow);
    b.inputFirstRow = b.workingFirstRow * k;
    b.inputRows = b.workingRows * k;
    const bool last = b.index + 1 == b.count;
    const int64_t first = std::min(working, b.firstTileRow * step);
    const int64_t end = std::min(working, b.endTileRow * step);
    b.stitchedFirstRow = first;
    b.stitchedRows = std::min(working, end + (k > 1 ? 1 : 0)) - first;
    b.resultFirstRow = first * k;
    b.resultRows = (last ? height : end * k) - b.resultFirstRow;
    // The band before ran this band's first row of tiles when it ran more
    // than its own, and kept every row those tiles add to below its own.
    const bool shares = blend || k > 1;
    b.followOnRow = index > 0 && shares ? std::min(grid.down, b.firstTileRow + 1) : b.runFirstRow;
    if (shares && !last) {
        const int64_t blendRows = blend && b.runEndRow < grid.down ? std::min(margin, step / 2) : 0;
        b.keptFirstRow = end;
        b.keptRows = std::max<int64_t>(0, std::min(working, b.runEndRow * step + blendRows) - end);
    }
    b.heldRows = std::max(b.stitchedRows, b.keptFirstRow + b.keptRows - first);
    return b;
}
