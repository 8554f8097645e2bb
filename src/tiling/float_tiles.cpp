#include "tiling/float_tiles.h"

#include <algorithm>

#include "image/utils_image_cropping.h"

namespace {

// The tile's rows gathered as floats, each transformed, then written.
void cutTransformed(const ImageFloat& image, int64_t left, int64_t top, const TensorFrame& input,
                    const ValueTransform& transform, std::vector<float>& row, const RowWindow& window) {
    const int64_t c = image.numChannels, side = input.width;
    row.resize(static_cast<size_t>(side * c));
    for (int64_t r = 0; r < input.height; ++r) {
        const float* src = image.data + window.row(top + r, image.height) * image.width * c;
        for (int64_t x = 0; x < side; ++x)
            std::copy_n(src + std::clamp<int64_t>(left + x, 0, image.width - 1) * c, c, row.data() + x * c);
        transform.apply(row.data(), side, static_cast<int32_t>(c));
        writePixels(input, r * side, row.data(), side);
    }
}

}  // namespace

void cutTile(const ImageFloat& image, int64_t left, int64_t top, const TensorFrame& input,
             const ValueTransform& transform, std::vector<float>* row, const RowWindow& window) {
    if (!image.data || image.width <= 0 || image.height <= 0) return;
    if (!transform.identity()) {
        std::vector<float> local;
        return cutTransformed(image, left, top, input, transform, row ? *row : local, window);
    }
    const int64_t channels = image.numChannels;
    const int64_t width = image.width;
    const int64_t side = input.width;
    const int64_t before = left < 0 ? std::min(side, -left) : 0;
    const int64_t start = std::max<int64_t>(left, 0);
    const int64_t middle = start < width ? std::min(side - before, width - start) : 0;
    const int64_t after = side - before - middle;
    for (int64_t r = 0; r < input.height; ++r) {
        const float* row = image.data + window.row(top + r, image.height) * width * channels;
        const int64_t at = r * side;
        repeatPixel(input, at, row, before);
        writePixels(input, at + before, row + start * channels, middle);
        repeatPixel(input, at + before + middle, row + (width - 1) * channels, after);
    }
}

void stitchTile(const TensorFrame& result, const ImageFloat& stitched, const StitchSquare& s,
                const ThreadSource& threads, const ValueTransform& transform) {
    const int64_t width = std::min(s.side, stitched.width - s.x);
    const int64_t height = std::min(s.side, stitched.height - s.y);
    if (width <= 0 || height <= 0) return;
    const int64_t channels = stitched.numChannels;
    auto rows = [&](int64_t from, int64_t to) {
        for (int64_t row = from; row <= to; ++row) {
            float* out = stitched.data + ((s.y + row) * stitched.width + s.x) * channels;
            readPixels(result, (s.from + row) * result.width + s.from, width, out);
            transform.apply(out, width, static_cast<int32_t>(channels));
        }
    };
    // Starting threads costs more than copying a tile-sized square, and far
    // more while the runtime's own threads still hold the cores, so only
    // large squares are split.
    const int64_t bytes = width * height * channels * static_cast<int64_t>(sizeof(float));
    parallelFor(ParallelForConfig{bytes >= kPasteSplitBytes, 0, threads}, 0, height - 1, rows);
}
