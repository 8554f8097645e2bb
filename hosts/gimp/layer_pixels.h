/* Pixels between the layer and the model: the layer's channels fitted to
 * what the model takes, alpha kept aside, and the model's result arranged to
 * be written back. No GIMP here, so that it can be tested alone. */
#ifndef VELMORA_GIMP_LAYER_PIXELS_H
#define VELMORA_GIMP_LAYER_PIXELS_H

#include <stddef.h>
#include <stdint.h>

#include "failure.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Interleaved float pixels, rows top first; channel c of pixel (x, y) is
 * data[(y * width + x) * channels + c]. With 2 or 4 channels the last one is
 * alpha (not premultiplied). Owned when made by vgAllocPixels. */
typedef struct VgPixels {
    int32_t width;
    int32_t height;
    int32_t channels;
    float* data;
} VgPixels;

/* Allocates width x height x channels floats (not cleared). False, with the
 * reason, when the size overflows or the memory is not there, or when the
 * environment's VELMORA_GIMP_ALLOCATION_LIMIT is a number of bytes that the
 * allocation would exceed. */
bool vgAllocPixels(VgPixels* pixels, int32_t width, int32_t height, int32_t channels, VgFailure* failure);
void vgFreePixels(VgPixels* pixels);
size_t vgPixelCount(const VgPixels* pixels);

/* Copies the rectangle at (x, y) of |width| x |height| pixels, which must lie
 * inside |pixels|. */
bool vgCropPixels(const VgPixels* pixels, int32_t x, int32_t y, int32_t width, int32_t height, VgPixels* out,
                  VgFailure* failure);

/* Fits the layer's pixels (1 to 4 channels) to a model that takes
 * |modelChannels| (0: unknown, the pixels go as they are). Gray is repeated
 * into RGB for a colour model; a model with an alpha channel gets the layer's
 * alpha, or 1 where the layer has none; otherwise the layer's alpha is copied
 * into |keptAlpha| (one channel) and left out. Every value handed to the model
 * is multiplied by |inputScale|. |keptAlpha| stays empty when nothing is kept. */
bool vgFitToModel(const VgPixels* layer, int32_t modelChannels, float inputScale, VgPixels* modelInput,
                  VgPixels* keptAlpha, VgFailure* failure);

/* Arranges the model's result (1 to 4 channels) for a layer with or without
 * alpha: the result's colour channels (1 or 3), then, for a layer with alpha,
 * the result's own alpha if it has one, else |alpha| (one channel of the
 * result's size, may be null) or 1. Every value that comes from the model is
 * multiplied by |outputScale|; the alpha put back is not. */
bool vgResultForLayer(const VgPixels* result, float outputScale, bool layerHasAlpha, const VgPixels* alpha,
                      VgPixels* out, VgFailure* failure);

/* Puts the result's colours (1 or 3 channels, times |outputScale|) into
 * |out|, of the result's size with those colours and an alpha channel,
 * whose alpha stays: the alpha GIMP gave the layer as it enlarged it. */
bool vgPutResultColours(const VgPixels* result, float outputScale, VgPixels* out, VgFailure* failure);

/* How much larger the result is than the input: 1 for the same size, S when
 * both sides are exactly S times as long. False, with the reason, for any
 * other size, which the plug-in cannot place. */
bool vgResultScale(int32_t inputWidth, int32_t inputHeight, int32_t resultWidth, int32_t resultHeight, int32_t* scale,
                   VgFailure* failure);

#ifdef __cplusplus
}
#endif

#endif
