#include "context/float_tile_adapter.h"

#include <algorithm>

#include "context/fresh_buffer.h"
#include "image/utils_image_cropping.h"
#include "tiling/blend_tiles.h"
#include "tiling/tile_grid.h"

Status FloatPipelineTiles::fill(const Tile& tile, const TensorFrame& input) {
    cutTile(working_, tile.left, tile.top, input, input_, &row_, band_.source);
    ++copies;
    return Ok{};
}

Status FloatPipelineTiles::begin(int32_t scale, int32_t channels) {
    scale_ = scale;
    const int64_t rows = band_.resultRows < 0 ? working_.height : band_.resultRows;
    const Expected<ImageFloat> sizes = scaledSizes(working_.width, rows, scale, channels);
    if (!sizes) return failure(sizes.message(), kRefusal);
    // A result kept from an earlier call is reused when its sizes match.
    if (!stitched_.resize(sizes->width, sizes->height, channels)) return failure(noRoomWords_, kNoRoom);
    preferLargePages(stitched_.view());
    // Blended tiles add their shares.
    const ImageFloat stitched = stitched_.view();
    if (blend_) std::fill_n(stitched.data, elementCount(stitched), 0.0f);
    const ImageFloat& kept = band_.carried;
    if (kept.data) {
        if (kept.width != stitched.width || kept.numChannels != stitched.numChannels)
            return failure("the band before gave results of other sizes", kRefusal);
        const int64_t at = (band_.carriedFirstRow - band_.resultFirstRow) * scale;
        if (at >= 0) pastePatch(stitched, kept, 0, static_cast<int32_t>(at), 0, 0, -1, -1);
    }
    return Ok{};
}

Status FloatPipelineTiles::store(const Tile& tile, const TensorFrame& result) {
    // Each tile gives its central square, all of it S times larger when the
    // model enlarges.
    const int64_t s = scale_;
    const StitchSquare square{tile.originX * s, (tile.originY - band_.resultFirstRow) * s, grid_.margin * s,
                              grid_.step * s};
    if (blend_) {
        const BlendSquare b{square,          std::min<int64_t>(grid_.margin, grid_.step / 2) * s,
                            tile.column > 0, tile.column + 1 < grid_.across,
                            tile.row > 0,    tile.row + 1 < grid_.down};
        blendTile(result, stitched_.view(), b, row_, output_);
    } else if (square.y >= 0) {
        stitchTile(result, stitched_.view(), square, threads_, output_);
    }
    ++copies;
    return Ok{};
}
