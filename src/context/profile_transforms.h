// The arithmetic of a model's profile, as the prediction pipelines apply it
// to interleaved pixels: host values to the model's on the way in, an image
// output's back to the host's on the way out. Both leave values untouched,
// bit for bit, when the profile would change nothing.
#pragma once

#include <cstdint>
#include <vector>

#include "context/model_profile.h"

// Model channel c is host channel order(c) (channels 0 and 2 exchanged for a
// BGR model of three or more channels) times scale[c] plus offset[c], that is
//     (inputLow + v (inputHigh - inputLow) - mean[c]) / std[c].
class InputTransform {
public:
    explicit InputTransform(const ModelProfile& profile);

    bool identity() const { return identity_; }

    // `count` pixels of `channels` values each, from `hostPixels` into
    // `modelPixels`; the two may be the same buffer. The identity copies
    // between different buffers and does nothing in place.
    void applyInput(const float* hostPixels, int64_t count, int32_t channels, float* modelPixels) const;

private:
    float scale(int32_t c) const { return static_cast<size_t>(c) < scale_.size() ? scale_[c] : restScale_; }
    float offset(int32_t c) const { return static_cast<size_t>(c) < offset_.size() ? offset_[c] : restOffset_; }

    std::vector<float> scale_, offset_;  // the channels the profile lists
    float restScale_ = 1.0f, restOffset_ = 0.0f;
    bool swap_ = false;
    bool arithmetic_ = false;  // false: at most the exchange
    bool identity_ = true;
};

// An image output y becomes (y - outputLow) / (outputHigh - outputLow), with
// channels 0 and 2 exchanged back for a BGR model of three or more output
// channels. Masks and class scores stay as they are.
class OutputTransform {
public:
    explicit OutputTransform(const ModelProfile& profile);

    bool identity() const { return identity_; }

    // `count` pixels of `channels` values each, in place.
    void applyOutput(float* pixels, int64_t count, int32_t channels) const;

private:
    float low_ = 0.0f, range_ = 1.0f;
    bool swap_ = false;
    bool arithmetic_ = false;  // false: at most the exchange
    bool identity_ = true;
};
