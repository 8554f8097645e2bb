#include "tiling/byte_tiles.h"

#include <algorithm>

#include "image/utils_image_operations.h"

namespace {

// Pixels [first, first + count) of the tile's row `r` as floats into `out`.
void tileRow(const RgbPicture& p, int64_t left, int64_t top, int64_t r, float inputScale, int64_t channels, float* out,
             int64_t count) {
    const int64_t sy = std::clamp<int64_t>(top + r, 0, p.height - 1);
    for (int64_t c = 0; c < count; ++c, out += channels) {
        const int64_t sx = std::clamp<int64_t>(left + c, 0, p.width - 1);
        const uint8_t* px = p.data + (sy * p.width + sx) * 3;
        out[0] = byteToFloat(px[0], inputScale);
        out[1] = byteToFloat(px[1], inputScale);
        out[2] = byteToFloat(px[2], inputScale);
        for (int64_t ch = 3; ch < channels; ++ch) out[ch] = 0.0f;
    }
}

}  // namespace

void extractTile(const RgbPicture& picture, int64_t left, int64_t top, float inputScale, const ImageFloat& tile) {
    const int64_t channels = tile.numChannels;
    for (int64_t r = 0; r < tile.height; ++r)
        tileRow(picture, left, top, r, inputScale, channels, tile.data + r * tile.width * channels, tile.width);
}

void cutByteTile(const RgbPicture& picture, int64_t left, int64_t top, float inputScale, const TensorFrame& input,
                 std::vector<float>& row, const ValueTransform& transform) {
    const int64_t side = input.width;
    if (!input.holdsFloats()) row.resize(static_cast<size_t>(side * input.channels));
    for (int64_t r = 0; r < input.height; ++r) {
        // Floats in the model's own layout are written in place.
        float* out = input.holdsFloats() ? input.floatsAt(r * side) : row.data();
        tileRow(picture, left, top, r, inputScale, input.channels, out, side);
        transform.apply(out, side, static_cast<int32_t>(input.channels));
        if (!input.holdsFloats()) writePixels(input, r * side, row.data(), side);
    }
}

void convertToBytes(const float* values, int64_t pixels, int64_t channels, const ByteConversion& conversion,
                    uint8_t* out) {
    const int64_t count = pixels * channels;
    if (conversion.argmax)
        argmaxChannels(values, out, static_cast<size_t>(count), static_cast<size_t>(channels));
    else
        floatToByte(values, out, count, conversion.outputScale);
}

void stitchByteTile(const TensorFrame& result, const ImageByte& image, const StitchSquare& s,
                    const ByteConversion& conversion, std::vector<float>& row, const ValueTransform& transform) {
    const int64_t width = std::min(s.side, image.width - s.x);
    const int64_t height = std::min(s.side, image.height - s.y);
    if (width <= 0 || height <= 0) return;
    // Values to transform are read out of the runtime's output first.
    const bool inPlace = result.holdsFloats() && transform.identity();
    if (!inPlace) row.resize(static_cast<size_t>(width * result.channels));
    for (int64_t r = 0; r < height; ++r) {
        const int64_t at = (s.from + r) * result.width + s.from;
        const float* values = inPlace ? result.floatsAt(at) : row.data();
        if (!inPlace) {
            readPixels(result, at, width, row.data());
            transform.apply(row.data(), width, static_cast<int32_t>(result.channels));
        }
        convertToBytes(values, width, result.channels, conversion,
                       image.data + ((s.y + r) * image.width + s.x) * image.numChannels);
    }
}
