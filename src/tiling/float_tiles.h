// Float images to and from the model's tensors: a tile cut straight into
// the model's input, and a result's central square stitched straight out of
// the model's output.
#pragma once

#include <cstdint>
#include <vector>

#include "image/image_records.h"
#include "image/parallel_for.h"
#include "tiling/tile_tensor.h"
#include "tiling/value_transform.h"

// Writes the input's width x height pixels from those of `image` at
// (left + column, top + row), coordinates clamped into the image, so that a
// tile reaching outside repeats the edge pixels. Channels as the image's;
// values through `transform` on their way (`row` is its working room).
void cutTile(const ImageFloat& image, int64_t left, int64_t top, const TensorFrame& input,
             const ValueTransform& transform = {}, std::vector<float>* row = nullptr);

// A square of a result and where it goes.
struct StitchSquare {
    int64_t x = 0, y = 0;  // in the stitched image
    int64_t from = 0;      // its corner in the result, on both axes
    int64_t side = 0;
};

// Copies the square of `result` to `stitched` (same channel count), clipped
// to the stitched image, values through `transform`; a large square's rows
// are copied on threads from `threads`.
void stitchTile(const TensorFrame& result, const ImageFloat& stitched, const StitchSquare& square,
                const ThreadSource& threads, const ValueTransform& transform = {});
