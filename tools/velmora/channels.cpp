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

}  // namespace

ModelInput fitChannels(const Raster& image, int modelChannels) {
    const int have = image.channels;
    if (modelChannels <= 0 || modelChannels == have) return {image, {}};
    const bool hasAlpha = have == 2 || have == 4;
    const int color = hasAlpha ? have - 1 : have;
    const bool fits = (modelChannels == color) || (modelChannels == 3 && color == 1) ||
                      (modelChannels == 4 && !hasAlpha) || (modelChannels == 2 && color == 1);
    if (!fits)
        throw std::runtime_error("the model takes " + std::to_string(modelChannels) +
                                 " channels per pixel, the image is " + channelsName(have));

    ModelInput fitted{makeRaster(image.width, image.height, modelChannels, image.type), {}};
    const size_t pixels = pixelCount(image);
    const bool keepAlphaAside = hasAlpha && modelChannels != 2 && modelChannels != 4;
    if (keepAlphaAside) fitted.alpha.resize(pixels);
    for (size_t p = 0; p < pixels; ++p) {
        const float* in = &image.pixels[p * have];
        float* out = &fitted.image.pixels[p * modelChannels];
        const int modelColor = modelChannels == 2 || modelChannels == 4 ? modelChannels - 1 : modelChannels;
        for (int c = 0; c < modelColor; ++c) out[c] = in[color == 1 ? 0 : c];
        if (modelColor < modelChannels) out[modelColor] = hasAlpha ? in[color] : 1.0f;
        if (keepAlphaAside) fitted.alpha[p] = in[color];
    }
    return fitted;
}

Raster restoreAlpha(Raster result, const std::vector<float>& alpha) {
    const size_t pixels = pixelCount(result);
    if (alpha.size() != pixels || (result.channels != 1 && result.channels != 3)) return result;
    const int channels = result.channels + 1;
    Raster out = makeRaster(result.width, result.height, channels, result.type);
    for (size_t p = 0; p < pixels; ++p) {
        for (int c = 0; c < result.channels; ++c) out.pixels[p * channels + c] = result.pixels[p * result.channels + c];
        out.pixels[p * channels + result.channels] = alpha[p];
    }
    return out;
}
