#include "tiling/blend_tiles.h"

#include <algorithm>
#include <vector>

namespace {

// The weight at result coordinate `at` of a square [start, start + side)
// whose borders blend over `band` on either side where a neighbour is.
float rampWeight(int64_t at, int64_t start, int64_t side, int64_t band, bool before, bool after) {
    if (band <= 0) return 1.0f;
    const double width = 2.0 * static_cast<double>(band);
    if (before && at < start + band)
        return static_cast<float>((static_cast<double>(at - (start - band)) + 0.5) / width);
    if (after && at >= start + side - band)
        return static_cast<float>((static_cast<double>(start + side + band - at) - 0.5) / width);
    return 1.0f;
}

}  // namespace

void blendTile(const TensorFrame& result, const ImageFloat& sum, const BlendSquare& b, std::vector<float>& row,
               const ValueTransform& transform) {
    const StitchSquare& s = b.square;
    const int64_t x0 = std::max<int64_t>(0, s.x - (b.left ? b.band : 0));
    const int64_t y0 = std::max<int64_t>(0, s.y - (b.top ? b.band : 0));
    const int64_t x1 = std::min<int64_t>(sum.width, s.x + s.side + (b.right ? b.band : 0));
    const int64_t y1 = std::min<int64_t>(sum.height, s.y + s.side + (b.bottom ? b.band : 0));
    if (x1 <= x0 || y1 <= y0) return;
    const int64_t c = sum.numChannels, width = x1 - x0;
    row.resize(static_cast<size_t>(width * c));
    std::vector<float> across(static_cast<size_t>(width));
    for (int64_t x = x0; x < x1; ++x) across[x - x0] = rampWeight(x, s.x, s.side, b.band, b.left, b.right);
    for (int64_t y = y0; y < y1; ++y) {
        const float down = rampWeight(y, s.y, s.side, b.band, b.top, b.bottom);
        // The result pixel under (x, y): the square's corner sits at `from`.
        readPixels(result, (s.from + y - s.y) * result.width + s.from + x0 - s.x, width, row.data());
        transform.apply(row.data(), width, static_cast<int32_t>(c));
        float* out = sum.data + (y * sum.width + x0) * c;
        for (int64_t i = 0; i < width; ++i) {
            const float w = across[i] * down;
            for (int64_t ch = 0; ch < c; ++ch) out[i * c + ch] += w * row[i * c + ch];
        }
    }
}
