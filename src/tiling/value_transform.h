// What is done to values on their way into a model and out of it (a model
// profile's normalisation and colour order): per channel c of the
// destination, value of source channel order[c], times scale[c], plus
// offset[c]. Empty: nothing at all is done, not even a multiply by one, so
// that results without a profile stay bit for bit.
#pragma once

#include <cstdint>
#include <vector>

struct ValueTransform {
    std::vector<float> scale, offset;
    std::vector<int32_t> order;  // empty: channel c from channel c

    bool identity() const { return scale.empty() && order.empty(); }
    // `count` interleaved pixels of `channels` values, in place.
    void apply(float* pixels, int64_t count, int32_t channels) const;
};
