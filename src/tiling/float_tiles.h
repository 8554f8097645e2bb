// Float images to and from the model's tensors: a tile cut straight into
// the model's input, and a result's central square stitched straight out of
// the model's output.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "image/image_records.h"
#include "image/parallel_for.h"
#include "tiling/tile_tensor.h"
#include "tiling/value_transform.h"

// Rows of a picture that a band of it is cut from: `image` holds picture
// rows from `firstRow` on of a picture `pictureHeight` rows high (negative:
// the image is the whole picture).
struct RowWindow {
    int64_t firstRow = 0;
    int64_t pictureHeight = -1;
    // The image's row holding picture row `y`, clamped into the picture.
    int64_t row(int64_t y, int64_t imageHeight) const {
        const int64_t h = pictureHeight < 0 ? imageHeight : pictureHeight;
        return std::clamp<int64_t>(y, 0, h - 1) - firstRow;
    }
};

// Writes the input's width x height pixels from those of `image` at
// (left + column, top + row), coordinates clamped into the picture, so that
// a tile reaching outside repeats the edge pixels. Channels as the image's;
// values through `transform` on their way (`row` is its working room).
void cutTile(const ImageFloat& image, int64_t left, int64_t top, const TensorFrame& input,
             const ValueTransform& transform = {}, std::vector<float>* row = nullptr, const RowWindow& window = {});

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
