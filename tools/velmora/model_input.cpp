#include "model_input.h"

#include <algorithm>

ModelInputImage readModelInput(ImageReader& reader, const ChannelFit& fit, InputKind kind, const ChannelMap& values,
                               bool keepColour) {
    const ImageHeader& h = reader.header();
    const bool swap = swapsSides(h.orientation);
    ModelInputImage image;
    image.width = swap ? h.height : h.width;
    image.height = swap ? h.width : h.height;
    image.channels = fit.modelChannels();
    const size_t pixels = static_cast<size_t>(h.width) * static_cast<size_t>(h.height);
    const auto channels = static_cast<size_t>(image.channels);
    if (kind == InputKind::Floats)
        image.pixels.resize(pixels * channels);
    else
        image.bytes.resize(pixels * channels);
    if (fit.setsAlphaAside()) image.alpha.resize(pixels);
    const int32_t colourChannels = h.channels == 2 || h.channels == 4 ? h.channels - 1 : h.channels;
    if (keepColour) {
        image.colourChannels = colourChannels;
        image.colour.resize(pixels * static_cast<size_t>(colourChannels));
    }

    const Placement place = placement(h.orientation, h.width, h.height);
    const auto have = static_cast<size_t>(h.channels);
    std::vector<float> fitted(channels);
    const bool mapped = !values.isIdentity();
    reader.readRows([&](int32_t y, const float* row) {
        for (int32_t x = 0; x < h.width; ++x) {
            const auto at = static_cast<size_t>(place.at(x, y));
            float alpha = 0.0f;
            if (kind == InputKind::Floats) {
                float* out = image.pixels.data() + at * channels;
                fit.apply(row + static_cast<size_t>(x) * have, out, &alpha);
                if (mapped)
                    for (size_t c = 0; c < channels; ++c) out[c] = values(static_cast<int32_t>(c), out[c]);
            } else {
                fit.apply(row + static_cast<size_t>(x) * have, fitted.data(), &alpha);
                unsigned char* out = image.bytes.data() + at * channels;
                for (size_t c = 0; c < channels; ++c) out[c] = static_cast<unsigned char>(quantize(fitted[c], 8));
            }
            if (!image.alpha.empty()) image.alpha[at] = alpha;
            if (keepColour)
                std::copy_n(row + static_cast<size_t>(x) * have, colourChannels,
                            image.colour.data() + at * static_cast<size_t>(colourChannels));
        }
    });
    return image;
}

FloatSample bytesSample(const ModelInputImage& input, float scale, int32_t side) {
    FloatSample sample;
    const int32_t w = std::min(input.width, side), h = std::min(input.height, side);
    const int32_t left = (input.width - w) / 2, top = (input.height - h) / 2;
    const auto c = static_cast<size_t>(input.channels);
    sample.pixels.resize(static_cast<size_t>(w) * static_cast<size_t>(h) * c);
    for (int32_t y = 0; y < h; ++y) {
        const unsigned char* from =
            input.bytes.data() + (static_cast<size_t>(top + y) * static_cast<size_t>(input.width) + left) * c;
        float* to = sample.pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(w) * c;
        for (size_t i = 0; i < static_cast<size_t>(w) * c; ++i) to[i] = from[i] * scale;
    }
    sample.view = {w, h, input.channels, sample.pixels.data()};
    return sample;
}
