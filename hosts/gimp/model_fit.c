#include "model_fit.h"

#include <stdio.h>
#include <string.h>

/* "1x?x?x3", the dimensions the description gives. */
static void shapeText(const VelmoraTensorInfo* t, char* out, size_t size) {
    size_t used = 0;
    out[0] = '\0';
    for (int32_t i = 0; i < t->dimCount && i < VELMORA_MAX_DIMS && used < size; ++i) {
        const int n = t->dims[i] < 0 ? snprintf(out + used, size - used, "%s?", i ? "x" : "")
                                     : snprintf(out + used, size - used, "%s%lld", i ? "x" : "", (long long)t->dims[i]);
        if (n < 0) break;
        used += (size_t)n;
    }
}

/* The channel count of an image tensor; 0 when open or not an image. */
static int32_t channelsOf(const VelmoraTensorInfo* t) {
    if (t->layout == VELMORA_LAYOUT_NONE) return 0;
    return t->channels > 0 && t->channels <= 1024 ? t->channels : 0;
}

bool vgFitModel(const VelmoraModelInfo* model, int32_t askedTile, VgModelFit* fit, VgFailure* failure) {
    memset(fit, 0, sizeof *fit);
    fit->tile = askedTile;
    if (askedTile < 0) return vgFail(failure, "the tile size must be positive (0 takes the model's)");
    if (model->inputCount != 1)
        return vgFail(failure, "the model takes %d inputs; tiled runs feed exactly one", (int)model->inputCount);
    const VelmoraTensorInfo* in = &model->inputs[0];
    char dims[128];
    shapeText(in, dims, sizeof dims);
    if (in->layout == VELMORA_LAYOUT_NONE)
        return vgFail(failure, "the model's input \"%s\" (%s) is not an image batch of four dimensions", in->name,
                      dims);
    const int64_t h = in->height, w = in->width;
    fit->inputChannels = channelsOf(in);
    fit->outputChannels = model->outputCount > 0 ? channelsOf(&model->outputs[0]) : 0;
    if (h < 0 && w < 0) {
        fit->openSize = true;
        return true;
    }
    /* One side open: the fixed one names the square tile. */
    const int64_t side = h >= 0 ? h : w;
    if ((h >= 0 && w >= 0 && h != w) || side == 0 || side > 65536)
        return vgFail(failure, "the model takes inputs of %s; the library cuts square tiles", dims);
    if (askedTile != 0 && askedTile != side)
        return vgFail(failure, "the model takes %lld x %lld tiles (%s); a tile size of %d does not fit",
                      (long long)side, (long long)side, dims, (int)askedTile);
    fit->tile = (int32_t)side;
    return true;
}
