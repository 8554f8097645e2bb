// 8-bit RGB images to and from the model's tensors: a tile's bytes, scaled
// to floats, cut into the model's input, and a result's central square turned
// into bytes (by arg-max over channels, or scaled) straight out of the
// model's output.
#pragma once

#include <cstdint>
#include <vector>

#include "image/image_records.h"
#include "tiling/float_tiles.h"
#include "tiling/tile_tensor.h"
#include "tiling/value_transform.h"

// An RGB picture of 3 bytes per pixel, rows without padding.
struct RgbPicture {
    const uint8_t* data = nullptr;
    int32_t width = 0, height = 0;
};

// The tile at (left, top), edges repeated, each byte times `inputScale` in
// channels 0 to 2 and zero in the channels past them, written as `tile`
// (interleaved floats) or straight into the model's input.
void extractTile(const RgbPicture& picture, int64_t left, int64_t top, float inputScale, const ImageFloat& tile);
void cutByteTile(const RgbPicture& picture, int64_t left, int64_t top, float inputScale, const TensorFrame& input,
                 std::vector<float>& row, const ValueTransform& transform = {});

// Bytes of a result: one per pixel, the index of its largest channel, with
// `argmax`; else every value scaled and rounded.
struct ByteConversion {
    bool argmax = false;
    float outputScale = 1.0f;
};

// The square of `result` as bytes into `image`, clipped to it, values
// through `transform` first. `row` is working room.
void stitchByteTile(const TensorFrame& result, const ImageByte& image, const StitchSquare& square,
                    const ByteConversion& conversion, std::vector<float>& row, const ValueTransform& transform = {});

// Values of an interleaved float run as bytes.
void convertToBytes(const float* values, int64_t pixels, int64_t channels, const ByteConversion& conversion,
                    uint8_t* out);
