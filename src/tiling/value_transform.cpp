#include "tiling/value_transform.h"

#include <algorithm>

void ValueTransform::apply(float* pixels, int64_t count, int32_t channels) const {
    if (identity() || channels <= 0) return;
    float from[64];
    const int32_t kept = std::min<int32_t>(channels, 64);
    for (int64_t i = 0; i < count; ++i) {
        float* px = pixels + i * channels;
        std::copy_n(px, kept, from);
        for (int32_t c = 0; c < kept; ++c) {
            const int32_t source = order.empty() ? c : order[static_cast<size_t>(c) % order.size()];
            float v = source < kept ? from[source] : from[c];
            if (!scale.empty())
                v = v * scale[static_cast<size_t>(c) % scale.size()] + offset[static_cast<size_t>(c) % offset.size()];
            px[c] = v;
        }
    }
}
