#include "image/utils_image_resample.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <vector>

namespace {

// The source pixels (and their weights) behind each destination pixel of
// one axis.
struct Taps {
    std::vector<int64_t> first, count;
    std::vector<int64_t> index;
    std::vector<float> weight;
};

Taps axisTaps(int64_t from, int64_t to) {
    Taps t;
    t.first.resize(static_cast<size_t>(to));
    t.count.resize(static_cast<size_t>(to));
    const double s = static_cast<double>(from) / static_cast<double>(to);
    for (int64_t d = 0; d < to; ++d) {
        t.first[d] = static_cast<int64_t>(t.index.size());
        if (s > 1.0) {
            // Shrinking: the share of each source pixel in [d s, (d + 1) s).
            const double lo = static_cast<double>(d) * s, hi = lo + s;
            for (int64_t i = static_cast<int64_t>(std::floor(lo)); i < std::min<double>(std::ceil(hi), from); ++i) {
                const double w = std::min<double>(hi, i + 1) - std::max<double>(lo, i);
                if (w <= 0) continue;
                t.index.push_back(i);
                t.weight.push_back(static_cast<float>(w / s));
            }
        } else {
            // Growing: between the two nearest centres.
            const double at = (static_cast<double>(d) + 0.5) * s - 0.5;
            const double below = std::floor(at);
            const double f = at - below;
            const auto i0 = static_cast<int64_t>(std::clamp<double>(below, 0, static_cast<double>(from - 1)));
            const auto i1 = static_cast<int64_t>(std::clamp<double>(below + 1, 0, static_cast<double>(from - 1)));
            t.index.push_back(i0);
            t.weight.push_back(static_cast<float>(1.0 - f));
            t.index.push_back(i1);
            t.weight.push_back(static_cast<float>(f));
        }
        t.count[d] = static_cast<int64_t>(t.index.size()) - t.first[d];
    }
    return t;
}

}  // namespace

void resample(const ImageFloat& src, ImageFloat dest) {
    assert(src.numChannels == dest.numChannels);
    if (!src.data || !dest.data || src.width <= 0 || src.height <= 0 || dest.width <= 0 || dest.height <= 0) return;
    const int64_t c = src.numChannels;
    const Taps across = axisTaps(src.width, dest.width), down = axisTaps(src.height, dest.height);
    // Across first, into rows of the destination's width; then down.
    std::vector<float> rows(static_cast<size_t>(dest.width * src.height * c), 0.0f);
    for (int64_t y = 0; y < src.height; ++y) {
        const float* in = src.data + y * src.width * c;
        float* out = rows.data() + y * dest.width * c;
        for (int64_t x = 0; x < dest.width; ++x)
            for (int64_t k = across.first[x]; k < across.first[x] + across.count[x]; ++k) {
                const float w = across.weight[k];
                const float* px = in + across.index[k] * c;
                for (int64_t ch = 0; ch < c; ++ch) out[x * c + ch] += w * px[ch];
            }
    }
    const int64_t rowValues = dest.width * c;
    for (int64_t y = 0; y < dest.height; ++y) {
        float* out = dest.data + y * rowValues;
        std::fill_n(out, rowValues, 0.0f);
        for (int64_t k = down.first[y]; k < down.first[y] + down.count[y]; ++k) {
            const float w = down.weight[k];
            const float* in = rows.data() + down.index[k] * rowValues;
            for (int64_t i = 0; i < rowValues; ++i) out[i] += w * in[i];
        }
    }
}
