#include "place_result.h"

#include <string.h>

#include "drawable_io.h"

/* The result arranged for the layer's pixels, made before anything in the
 * image changes, so that a lack of memory leaves the image as it was. */
typedef struct Prepared {
    int32_t scale;       /* 1, or how many times the layer is enlarged */
    bool alphaFromLayer; /* enlarged: the alpha is GIMP's, read into |out| once it has scaled the layer */
    VgPixels out;
} Prepared;

/* The part of the result that covers the target; the rest is the context
 * around a selection. */
static bool prepareSameSize(gint32 drawable, const VgRunResult* run, float outputScale, VgPixels* out,
                            VgFailure* failure) {
    VgPixels colour = {0}, alpha = {0};
    const GeglRectangle* read = &run->read;
    const GeglRectangle* target = &run->target;
    const gint dx = target->x - read->x, dy = target->y - read->y;
    /* Without a selection nothing was read around the target: no copies. */
    const bool whole = dx == 0 && dy == 0 && target->width == read->width && target->height == read->height;
    const VgPixels* keptAlpha = run->keptAlpha;
    bool done = whole ||
                (vgCropPixels(run->result, dx, dy, target->width, target->height, &colour, failure) &&
                 (!keptAlpha->data || vgCropPixels(keptAlpha, dx, dy, target->width, target->height, &alpha, failure)));
    const VgPixels* keptPart = whole ? keptAlpha : &alpha;
    done = done && vgResultForLayer(whole ? run->result : &colour, outputScale, gimp_drawable_has_alpha(drawable),
                                    keptPart->data ? keptPart : NULL, out, failure);
    vgFreePixels(&colour);
    vgFreePixels(&alpha);
    return done;
}

/* The result as |drawable|'s pixels (or those of its copy), at its size or
 * enlarged. */
static bool preparePixels(gint32 drawable, const VgRunResult* run, float outputScale, Prepared* prepared,
                          VgFailure* failure) {
    const VgPixels* result = run->result;
    memset(prepared, 0, sizeof *prepared);
    if (!vgResultScale(run->read.width, run->read.height, result->width, result->height, &prepared->scale, failure))
        return false;
    if (prepared->scale == 1) return prepareSameSize(drawable, run, outputScale, &prepared->out, failure);
    if (run->selection)
        return vgFail(failure, "the model enlarges the picture %d times; it runs on whole layers only (Select > None)",
                      (int)prepared->scale);
    if (!gimp_item_is_layer(drawable))
        return vgFail(failure, "the model enlarges the picture %d times; only layers can be enlarged",
                      (int)prepared->scale);
    const bool layerAlpha = gimp_drawable_has_alpha(drawable);
    prepared->alphaFromLayer = layerAlpha && (result->channels == 1 || result->channels == 3);
    if (!prepared->alphaFromLayer)
        return vgResultForLayer(result, outputScale, layerAlpha, NULL, &prepared->out, failure);
    return vgAllocPixels(&prepared->out, result->width, result->height, result->channels + 1, failure);
}

/* An enlarging model: the layer is scaled by GIMP first, which also gives a
 * smoothly enlarged alpha, then the result replaces its colours; the canvas
 * grows to show the whole layer. */
static bool writeEnlarged(gint32 image, gint32 drawable, const VgPixels* result, float outputScale, Prepared* prepared,
                          VgFailure* failure) {
    gint x = 0, y = 0;
    gimp_drawable_offsets(drawable, &x, &y);
    const gint width = result->width, height = result->height;
    if (!gimp_layer_scale(drawable, width, height, TRUE) || !gimp_layer_set_offsets(drawable, x, y))
        return vgFail(failure, "GIMP could not enlarge the layer %d times", (int)prepared->scale);
    if (prepared->alphaFromLayer && (!vgReadInto(drawable, 0, 0, &prepared->out, failure) ||
                                     !vgPutResultColours(result, outputScale, &prepared->out, failure)))
        return false;
    if (!vgWriteRegion(drawable, 0, 0, &prepared->out, failure)) return false;
    const gint canvasWidth = MAX(gimp_image_width(image), x + width);
    const gint canvasHeight = MAX(gimp_image_height(image), y + height);
    if ((canvasWidth != gimp_image_width(image) || canvasHeight != gimp_image_height(image)) &&
        !gimp_image_resize(image, canvasWidth, canvasHeight, 0, 0))
        return vgFail(failure, "GIMP could not grow the canvas to %d x %d", canvasWidth, canvasHeight);
    return true;
}

static bool writePixels(gint32 image, gint32 drawable, const VgRunResult* run, float outputScale, Prepared* prepared,
                        VgFailure* failure) {
    if (prepared->scale == 1) return vgWriteRegion(drawable, run->target.x, run->target.y, &prepared->out, failure);
    return writeEnlarged(image, drawable, run->result, outputScale, prepared, failure);
}

/* A copy of the source directly above it, named after the model. */
static gint32 newLayerAbove(gint32 image, gint32 source, const char* modelPath) {
    const gint32 copy = gimp_layer_copy(source);
    if (copy <= 0) return -1;
    gchar* sourceName = gimp_item_get_name(source);
    gchar* base = g_path_get_basename(modelPath);
    char* dot = strrchr(base, '.');
    if (dot && dot != base) *dot = '\0';
    gchar* name = g_strdup_printf("%s (%s)", sourceName ? sourceName : "Layer", base);
    gimp_item_set_name(copy, name);
    g_free(name);
    g_free(base);
    g_free(sourceName);
    const gint32 parent = gimp_item_get_parent(source);
    if (!gimp_image_insert_layer(image, copy, parent > 0 ? parent : 0, gimp_image_get_item_position(image, source))) {
        gimp_item_delete(copy);
        return -1;
    }
    return copy;
}

/* Channel 0 of the result over the target, as the layer's mask. */
static bool writeMask(gint32 layer, const VgRunResult* run, float outputScale, VgFailure* failure) {
    const VgPixels* result = run->result;
    if (!run->maskOutput && result->channels != 1)
        return vgFail(failure,
                      "the model gives %d channels and its profile does not call them a mask; a layer mask takes a "
                      "one-channel result (choose a new layer or replace the layer instead)",
                      (int)result->channels);
    int32_t scale = 0;
    if (!vgResultScale(run->read.width, run->read.height, result->width, result->height, &scale, failure)) return false;
    if (scale != 1)
        return vgFail(failure, "the model enlarges the picture %d times; a layer mask keeps the layer's size",
                      (int)scale);
    VgPixels mask = {0};
    if (!vgAllocPixels(&mask, run->target.width, run->target.height, 1, failure)) return false;
    const gint dx = run->target.x - run->read.x, dy = run->target.y - run->read.y;
    for (gint y = 0; y < mask.height; ++y)
        for (gint x = 0; x < mask.width; ++x)
            mask.data[(size_t)y * (size_t)mask.width + (size_t)x] =
                result->data[((size_t)(y + dy) * (size_t)result->width + (size_t)(x + dx)) * (size_t)result->channels] *
                outputScale;
    gint32 channel = gimp_layer_get_mask(layer);
    bool done = true;
    if (channel <= 0) {
        channel = gimp_layer_create_mask(layer, GIMP_ADD_MASK_WHITE);
        done = channel > 0 && gimp_layer_add_mask(layer, channel);
        if (!done) vgFail(failure, "GIMP could not add a mask to the layer");
    }
    done = done && vgWriteMaskRegion(channel, run->target.x, run->target.y, &mask, failure);
    vgFreePixels(&mask);
    return done;
}

bool vgOutputFits(gint32 drawable, VgOutput output, VgFailure* failure) {
    if (output == VG_OUTPUT_REPLACE || gimp_item_is_layer(drawable)) return true;
    return vgFail(failure, "%s is made for a layer, and this is a %s; choose to replace it instead",
                  output == VG_OUTPUT_MASK ? "a layer mask" : "a new layer",
                  gimp_item_is_layer_mask(drawable) ? "layer mask" : "channel");
}

bool vgPlaceResult(gint32 image, gint32 drawable, const VgRunSettings* settings, const VgRunResult* run,
                   VgFailure* failure) {
    const float outputScale = (float)settings->outputScale;
    const VgOutput output = (VgOutput)settings->output;
    if (!vgOutputFits(drawable, output, failure)) return false;
    Prepared prepared = {0};
    if (output != VG_OUTPUT_MASK && !preparePixels(drawable, run, outputScale, &prepared, failure)) return false;
    gimp_image_undo_group_start(image);
    bool done = false;
    switch (output) {
        case VG_OUTPUT_REPLACE: done = writePixels(image, drawable, run, outputScale, &prepared, failure); break;
        case VG_OUTPUT_MASK: done = writeMask(drawable, run, outputScale, failure); break;
        case VG_OUTPUT_NEW_LAYER: {
            const gint32 layer = newLayerAbove(image, drawable, settings->modelPath);
            if (layer <= 0) {
                vgFail(failure, "GIMP could not add a layer for the result");
                break;
            }
            done = writePixels(image, layer, run, outputScale, &prepared, failure);
            if (done)
                gimp_image_set_active_layer(image, layer);
            else
                gimp_image_remove_layer(image, layer);
            break;
        }
    }
    gimp_image_undo_group_end(image);
    vgFreePixels(&prepared.out);
    return done;
}
