#include "context/profile_transforms.h"

#include <cstring>
#include <utility>

namespace {
// Colours are exchanged only where there are three to exchange: a grey or
// grey-and-alpha picture has no blue.
bool swaps(bool bgr, int32_t channels) { return bgr && channels >= 3; }
}  // namespace

InputTransform::InputTransform(const ModelProfile& p) {
    const size_t listed = p.mean.size();
    // In double, so that each channel's two factors are rounded once.
    const double span = static_cast<double>(p.inputHigh) - p.inputLow;
    const auto factors = [&](double mean, double std, float& scale, float& offset) {
        scale = static_cast<float>(span / std);
        offset = static_cast<float>((p.inputLow - mean) / std);
    };
    scale_.resize(listed);
    offset_.resize(listed);
    for (size_t c = 0; c < listed; ++c) factors(p.mean[c], p.std[c], scale_[c], offset_[c]);
    if (listed == 1)
        factors(p.mean[0], p.std[0], restScale_, restOffset_);
    else
        factors(0.0, 1.0, restScale_, restOffset_);

    bool plain = p.inputLow == 0.0f && p.inputHigh == 1.0f;
    for (size_t c = 0; c < listed; ++c) plain = plain && p.mean[c] == 0.0f && p.std[c] == 1.0f;
    arithmetic_ = !plain;
    swap_ = p.bgr;
    identity_ = plain && !p.bgr;
}

void InputTransform::applyInput(const float* host, int64_t count, int32_t channels, float* model) const {
    if (count <= 0 || channels <= 0) return;
    const size_t values = static_cast<size_t>(count) * static_cast<size_t>(channels);
    if (identity_) {
        if (host != model) std::memcpy(model, host, values * sizeof(float));
        return;
    }
    const bool swap = swaps(swap_, channels);
    for (int64_t p = 0; p < count; ++p) {
        const float* in = host + p * channels;
        float* out = model + p * channels;
        // Both exchanged values are read before either is written: the
        // buffers may be one.
        const float first = in[0];
        const float third = swap ? in[2] : 0.0f;
        for (int32_t c = 0; c < channels; ++c) {
            const float v = !swap ? in[c] : c == 0 ? third : c == 2 ? first : in[c];
            out[c] = arithmetic_ ? v * scale(c) + offset(c) : v;
        }
    }
}

OutputTransform::OutputTransform(const ModelProfile& p) {
    if (p.output != OutputRole::Image) return;
    low_ = p.outputLow;
    range_ = p.outputHigh - p.outputLow;
    arithmetic_ = !(p.outputLow == 0.0f && p.outputHigh == 1.0f);
    swap_ = p.bgr;
    identity_ = !arithmetic_ && !swap_;
}

void OutputTransform::applyOutput(float* pixels, int64_t count, int32_t channels) const {
    if (identity_ || count <= 0 || channels <= 0) return;
    const bool swap = swaps(swap_, channels);
    if (!arithmetic_ && !swap) return;
    for (int64_t p = 0; p < count; ++p) {
        float* px = pixels + p * channels;
        if (swap) std::swap(px[0], px[2]);
        if (arithmetic_)
            for (int32_t c = 0; c < channels; ++c) px[c] = (px[c] - low_) / range_;
    }
}
