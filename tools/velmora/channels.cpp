#include "channels.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace {

const char* channelsName(int channels) {
    switch (channels) {
        case 1: return "gray";
        case 2: return "gray with alpha";
        case 3: return "RGB";
        case 4: return "RGBA";
    }
    return "?";
}

bool hasAlpha(int32_t channels) { return channels == 2 || channels == 4; }

}  // namespace

ChannelFit::ChannelFit(int32_t pictureChannels, int32_t modelChannels)
    : have(pictureChannels), give(modelChannels <= 0 ? pictureChannels : modelChannels) {
    pictureAlpha = hasAlpha(have);
    pictureColor = pictureAlpha ? have - 1 : have;
    modelColor = hasAlpha(give) ? give - 1 : give;
    const bool fits = give == have || give == pictureColor || (give == 3 && pictureColor == 1) ||
                      (give == 4 && !pictureAlpha && (pictureColor == 3 || pictureColor == 1)) ||
                      (give == 2 && pictureColor == 1);
    if (!fits)
        throw std::runtime_error("the model takes " + std::to_string(give) + " channels per pixel, the image is " +
                                 channelsName(have));
    alphaAside = pictureAlpha && !hasAlpha(give);
}

void ChannelFit::apply(const float* in, float* out, float* alpha) const {
    for (int32_t c = 0; c < modelColor; ++c) out[c] = in[pictureColor == 1 ? 0 : c];
    if (modelColor < give) out[modelColor] = pictureAlpha ? in[pictureColor] : 1.0f;
    if (alphaAside) *alpha = in[pictureColor];
}

ChannelMap ChannelMap::scaling(float scale) {
    ChannelMap m;
    m.gain = {scale};
    return m;
}

template <typename GainAndOffset>
ChannelMap ChannelMap::perChannel(const std::vector<float>& mean, const std::vector<float>& deviation,
                                  GainAndOffset make) {
    const size_t n = std::max({mean.size(), deviation.size(), size_t{1}});
    ChannelMap m;
    m.gain.resize(n);
    m.offset.resize(n);
    for (size_t c = 0; c < n; ++c) {
        const int32_t channel = static_cast<int32_t>(c);
        const float d = deviation.empty() ? 1.0f : pick(deviation, channel);
        const float mu = mean.empty() ? 0.0f : pick(mean, channel);
        make(mu, d, m.gain[c], m.offset[c]);
    }
    return m;
}

ChannelMap ChannelMap::normalizing(float scale, const std::vector<float>& mean, const std::vector<float>& deviation) {
    // (v * scale - mean) / deviation = v * (scale / deviation) - mean / deviation
    return perChannel(mean, deviation, [scale](float mu, float d, float& gain, float& offset) {
        gain = scale / d;
        offset = -mu / d;
    });
}

ChannelMap ChannelMap::denormalizing(float scale, const std::vector<float>& mean, const std::vector<float>& deviation) {
    // (v * deviation + mean) * scale
    return perChannel(mean, deviation, [scale](float mu, float d, float& gain, float& offset) {
        gain = d * scale;
        offset = mu * scale;
    });
}

bool ChannelMap::isIdentity() const {
    for (const float g : gain)
        if (g != 1.0f) return false;
    for (const float o : offset)
        if (o != 0.0f) return false;
    return true;
}

std::string mapProblem(const ChannelMap& map, int32_t channels, const std::string& options, bool onOutput) {
    const size_t named = map.channelsNamed();
    if (named == 1 || channels <= 0 || named == static_cast<size_t>(channels)) return {};
    return options + " " + std::to_string(named) + " values per pixel; the model " + (onOutput ? "gives " : "takes ") +
           std::to_string(channels) + (channels == 1 ? " channel" : " channels");
}

ResultShape::ResultShape(int32_t resultChannels, const ChannelMap& values, bool alphaAside, bool grayPicture,
                         bool dropAlpha)
    : in(resultChannels), values(values) {
    const int32_t color = hasAlpha(resultChannels) ? resultChannels - 1 : resultChannels;
    toGray = grayPicture && color == 3;
    addAlpha = alphaAside && (resultChannels == 1 || resultChannels == 3) && !dropAlpha;
    keepResultAlpha = hasAlpha(resultChannels) && !dropAlpha;
    if (color != 1 && color != 3) {
        // Neither gray nor RGB: written as the library gave it.
        toGray = addAlpha = keepResultAlpha = false;
        written = resultChannels;
        return;
    }
    written = (toGray ? 1 : color) + (addAlpha || keepResultAlpha ? 1 : 0);
}

void ResultShape::apply(const float* result, float alpha, float* out) const {
    const int32_t color = hasAlpha(in) ? in - 1 : in;
    if (written == in && !toGray && !addAlpha) {
        for (int32_t c = 0; c < in; ++c) out[c] = values(c, result[c]);
        return;
    }
    int32_t k = 0;
    if (toGray) {
        out[k++] = luminance(values(0, result[0]), values(1, result[1]), values(2, result[2]));
    } else {
        for (int32_t c = 0; c < color; ++c) out[k++] = values(c, result[c]);
    }
    if (addAlpha)
        out[k++] = alpha;
    else if (keepResultAlpha)
        out[k++] = values(color, result[color]);
}
