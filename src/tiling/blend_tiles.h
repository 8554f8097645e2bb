// Stitching with blended overlaps: each tile gives its step square and,
// where a neighbour tile meets it, a band on either side of the shared
// border, weighted so that the two tiles' weights ramp across the band and
// sum to one. Seams from a reach the margins cannot cover fade instead of
// cutting. The result is cleared first and each tile's share added to it.
#pragma once

#include <cstdint>
#include <vector>

#include "image/image_records.h"
#include "tiling/float_tiles.h"
#include "tiling/tile_tensor.h"
#include "tiling/value_transform.h"

struct BlendSquare {
    StitchSquare square;  // the step square, as the hard cut takes it
    int64_t band = 0;     // half the width of each blended band, in result pixels (at most the margin)
    bool left = false, right = false, top = false, bottom = false;  // neighbours that share a border
};

// Adds the tile's weighted share to `sum`, clipped to it, values through
// `transform`. `row` is working room.
void blendTile(const TensorFrame& result, const ImageFloat& sum, const BlendSquare& b, std::vector<float>& row,
               const ValueTransform& transform = {});
