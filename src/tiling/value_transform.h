// What is done to values on their way into a model and out of it (a model
// profile's normalisation and colour order), over interleaved pixels in
// place. Empty: nothing at all is done, not even a multiply by one, so that
// results without a profile stay bit for bit.
#pragma once

#include <cstdint>
#include <functional>

struct ValueTransform {
    std::function<void(float* pixels, int64_t count, int32_t channels)> transform;

    bool identity() const { return !transform; }
    void apply(float* pixels, int64_t count, int32_t channels) const {
        if (transform) transform(pixels, count, channels);
    }
};
