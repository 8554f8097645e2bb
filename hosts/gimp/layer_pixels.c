#include "layer_pixels.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

static bool hasAlphaChannel(int32_t channels) { return channels == 2 || channels == 4; }
static int32_t colourChannels(int32_t channels) { return hasAlphaChannel(channels) ? channels - 1 : channels; }

static const char* arrangementName(int32_t channels) {
    switch (channels) {
        case 1: return "gray";
        case 2: return "gray with alpha";
        case 3: return "RGB";
        case 4: return "RGB with alpha";
    }
    return "of an unknown kind";
}

/* Whether VELMORA_GIMP_ALLOCATION_LIMIT, when set, makes an allocation of
 * this size fail: the tests run short of memory at a chosen point with it. */
static bool beyondAllocationLimit(uint64_t bytes) {
    const char* limit = getenv("VELMORA_GIMP_ALLOCATION_LIMIT");
    if (!limit || !*limit) return false;
    char* end = NULL;
    const unsigned long long value = strtoull(limit, &end, 10);
    return *end == '\0' && bytes > value;
}

bool vgAllocPixels(VgPixels* pixels, int32_t width, int32_t height, int32_t channels, VgFailure* failure) {
    memset(pixels, 0, sizeof *pixels);
    if (width <= 0 || height <= 0 || channels <= 0)
        return vgFail(failure, "an image of %d x %d pixels with %d channels is empty", (int)width, (int)height,
                      (int)channels);
    const uint64_t count = (uint64_t)width * (uint64_t)height * (uint64_t)channels;
    if (count > SIZE_MAX / sizeof(float))
        return vgFail(failure, "an image of %d x %d pixels is too large for this machine", (int)width, (int)height);
    pixels->data = beyondAllocationLimit(count * sizeof(float)) ? NULL : malloc((size_t)count * sizeof(float));
    if (!pixels->data)
        return vgFail(failure, "not enough memory for %d x %d pixels with %d channels", (int)width, (int)height,
                      (int)channels);
    pixels->width = width;
    pixels->height = height;
    pixels->channels = channels;
    return true;
}

void vgFreePixels(VgPixels* pixels) {
    free(pixels->data);
    memset(pixels, 0, sizeof *pixels);
}

size_t vgPixelCount(const VgPixels* pixels) { return (size_t)pixels->width * (size_t)pixels->height; }

bool vgCropPixels(const VgPixels* pixels, int32_t x, int32_t y, int32_t width, int32_t height, VgPixels* out,
                  VgFailure* failure) {
    memset(out, 0, sizeof *out);
    if (x < 0 || y < 0 || width <= 0 || height <= 0 || x > pixels->width - width || y > pixels->height - height)
        return vgFail(failure, "the rectangle %d x %d at (%d, %d) is not inside %d x %d pixels", (int)width,
                      (int)height, (int)x, (int)y, (int)pixels->width, (int)pixels->height);
    if (!vgAllocPixels(out, width, height, pixels->channels, failure)) return false;
    const size_t rowValues = (size_t)width * (size_t)pixels->channels;
    for (int32_t row = 0; row < height; ++row)
        memcpy(out->data + (size_t)row * rowValues,
               pixels->data + (((size_t)(y + row) * (size_t)pixels->width) + (size_t)x) * (size_t)pixels->channels,
               rowValues * sizeof(float));
    return true;
}

bool vgFitToModel(const VgPixels* layer, int32_t modelChannels, float inputScale, VgPixels* modelInput,
                  VgPixels* keptAlpha, VgFailure* failure) {
    memset(modelInput, 0, sizeof *modelInput);
    memset(keptAlpha, 0, sizeof *keptAlpha);
    const int32_t have = layer->channels;
    if (have < 1 || have > 4) return vgFail(failure, "a layer with %d channels cannot be read", (int)have);
    const int32_t given = modelChannels > 0 ? modelChannels : have;
    const bool layerAlpha = hasAlphaChannel(have);
    const int32_t colour = colourChannels(have);
    const bool modelAlpha = hasAlphaChannel(given);
    const int32_t modelColour = colourChannels(given);
    if (given > 4 || !(modelColour == colour || (modelColour == 3 && colour == 1))) {
        if (modelColour == 1 && colour == 3)
            return vgFail(failure,
                          "the model takes gray pixels and the layer is RGB; convert the image to "
                          "grayscale first (Image > Mode > Grayscale)");
        return vgFail(failure, "the model takes %d channels per pixel and the layer is %s", (int)given,
                      arrangementName(have));
    }

    if (!vgAllocPixels(modelInput, layer->width, layer->height, given, failure)) return false;
    const bool keep = layerAlpha && !modelAlpha;
    if (keep && !vgAllocPixels(keptAlpha, layer->width, layer->height, 1, failure)) {
        vgFreePixels(modelInput);
        return false;
    }
    const size_t count = vgPixelCount(layer);
    for (size_t p = 0; p < count; ++p) {
        const float* in = layer->data + p * (size_t)have;
        float* out = modelInput->data + p * (size_t)given;
        for (int32_t c = 0; c < modelColour; ++c) out[c] = in[colour == 1 ? 0 : c] * inputScale;
        if (modelAlpha) out[modelColour] = (layerAlpha ? in[colour] : 1.0f) * inputScale;
        if (keep) keptAlpha->data[p] = in[colour];
    }
    return true;
}

bool vgResultForLayer(const VgPixels* result, float outputScale, bool layerHasAlpha, const VgPixels* alpha,
                      VgPixels* out, VgFailure* failure) {
    memset(out, 0, sizeof *out);
    const int32_t have = result->channels;
    if (have < 1 || have > 4)
        return vgFail(failure, "the model gives %d channels per pixel; a layer takes 1 to 4", (int)have);
    if (alpha && (alpha->width != result->width || alpha->height != result->height || alpha->channels != 1))
        return vgFail(failure, "the alpha kept aside (%d x %d) does not match the result (%d x %d)", (int)alpha->width,
                      (int)alpha->height, (int)result->width, (int)result->height);
    const int32_t colour = colourChannels(have);
    const bool resultAlpha = hasAlphaChannel(have);
    const int32_t channels = colour + (layerHasAlpha ? 1 : 0);
    if (!vgAllocPixels(out, result->width, result->height, channels, failure)) return false;
    const size_t count = vgPixelCount(result);
    for (size_t p = 0; p < count; ++p) {
        const float* in = result->data + p * (size_t)have;
        float* o = out->data + p * (size_t)channels;
        for (int32_t c = 0; c < colour; ++c) o[c] = in[c] * outputScale;
        if (!layerHasAlpha) continue;
        if (resultAlpha)
            o[colour] = in[colour] * outputScale;
        else
            o[colour] = alpha ? alpha->data[p] : 1.0f;
    }
    return true;
}

bool vgPutResultColours(const VgPixels* result, float outputScale, VgPixels* out, VgFailure* failure) {
    const int32_t colour = result->channels;
    if ((colour != 1 && colour != 3) || out->channels != colour + 1 || out->width != result->width ||
        out->height != result->height)
        return vgFail(failure, "the result (%d x %d, %d channels) does not fit the layer's pixels (%d x %d, %d)",
                      (int)result->width, (int)result->height, (int)colour, (int)out->width, (int)out->height,
                      (int)out->channels);
    const size_t count = vgPixelCount(result);
    for (size_t p = 0; p < count; ++p)
        for (int32_t c = 0; c < colour; ++c)
            out->data[p * (size_t)(colour + 1) + (size_t)c] =
                result->data[p * (size_t)colour + (size_t)c] * outputScale;
    return true;
}

bool vgResultScale(int32_t inputWidth, int32_t inputHeight, int32_t resultWidth, int32_t resultHeight, int32_t* scale,
                   VgFailure* failure) {
    *scale = 0;
    if (inputWidth > 0 && inputHeight > 0 && resultWidth > 0 && resultHeight > 0 && resultWidth % inputWidth == 0 &&
        resultHeight % inputHeight == 0 && resultWidth / inputWidth == resultHeight / inputHeight) {
        *scale = resultWidth / inputWidth;
        return true;
    }
    return vgFail(failure,
                  "the model's result is %d x %d pixels for %d x %d; only results of the same size or a "
                  "whole multiple of it in both directions can be placed",
                  (int)resultWidth, (int)resultHeight, (int)inputWidth, (int)inputHeight);
}
