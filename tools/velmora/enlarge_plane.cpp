#include "enlarge_plane.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

// Where an enlarged position falls between two source positions.
struct Between {
    int32_t first, second;
    float share;  // of the second
};

Between between(int64_t enlarged, int32_t factor, int32_t size) {
    const double at = (static_cast<double>(enlarged) + 0.5) / factor - 0.5;
    const double below = std::floor(at);
    const auto first = static_cast<int64_t>(below);
    const auto clamp = [&](int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, 0, size - 1)); };
    return {clamp(first), clamp(first + 1), static_cast<float>(at - below)};
}

}  // namespace

PlaneEnlarger::PlaneEnlarger(const float* plane, int32_t width, int32_t height, int32_t factor)
    : PlaneEnlarger([plane, width](int32_t y) { return plane + static_cast<size_t>(y) * static_cast<size_t>(width); },
                    width, height, factor) {}

PlaneEnlarger::PlaneEnlarger(PlaneRow rowOf, int32_t width, int32_t height, int32_t factor)
    : rowOf(std::move(rowOf)), planeWidth(width), planeHeight(height), factor(std::max(factor, 1)) {
    const int64_t enlarged = static_cast<int64_t>(width) * this->factor;
    from0.resize(static_cast<size_t>(enlarged));
    from1.resize(from0.size());
    weight1.resize(from0.size());
    for (int64_t x = 0; x < enlarged; ++x) {
        const Between b = between(x, this->factor, width);
        from0[static_cast<size_t>(x)] = b.first;
        from1[static_cast<size_t>(x)] = b.second;
        weight1[static_cast<size_t>(x)] = b.share;
    }
}

void PlaneEnlarger::row(int32_t y, float* out) const {
    const Between b = between(y, factor, planeHeight);
    const float* top = rowOf(b.first);
    const float* bottom = rowOf(b.second);
    for (size_t x = 0; x < from0.size(); ++x) {
        const float w = weight1[x];
        const float upper = top[from0[x]] + (top[from1[x]] - top[from0[x]]) * w;
        const float lower = bottom[from0[x]] + (bottom[from1[x]] - bottom[from0[x]]) * w;
        out[x] = upper + (lower - upper) * b.share;
    }
}
