#include "channels.h"

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

ResultShape::ResultShape(int32_t resultChannels, float outputScale, bool alphaAside, bool grayPicture, bool dropAlpha)
    : in(resultChannels), scale(outputScale) {
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
        for (int32_t c = 0; c < in; ++c) out[c] = result[c] * scale;
        return;
    }
    int32_t k = 0;
    if (toGray) {
        out[k++] = luminance(result[0] * scale, result[1] * scale, result[2] * scale);
    } else {
        for (int32_t c = 0; c < color; ++c) out[k++] = result[c] * scale;
    }
    if (addAlpha)
        out[k++] = alpha;
    else if (keepResultAlpha)
        out[k++] = result[color] * scale;
}
