#include "process_drawable.h"

#include <string.h>

#include "drawable_io.h"
#include "layer_pixels.h"

/* The model file's bytes. */
typedef struct ModelFile {
    gchar* bytes;
    gsize size;
} ModelFile;

static bool readModelFile(const char* path, ModelFile* model, VgFailure* failure) {
    memset(model, 0, sizeof *model);
    if (!path[0]) return vgFail(failure, "no model file was given");
    GError* error = NULL;
    if (!g_file_get_contents(path, &model->bytes, &model->size, &error)) {
        vgFail(failure, "%s", error->message);
        g_error_free(error);
        return false;
    }
    return true;
}

static bool showProgress(void* userData, double fraction) {
    (void)userData;
    /* GIMP 2.10 tells a plug-in nothing when the user cancels: it ends the
     * plug-in's process, before anything was written to the drawable. */
    gimp_progress_update(fraction);
    return false;
}

/* Puts the part of the result that covers |target| back there; the rest is
 * the context around a selection. */
static bool writeSameSize(gint32 drawable, const GeglRectangle* read, const GeglRectangle* target,
                          const VgPixels* result, const VgPixels* keptAlpha, float outputScale, VgFailure* failure) {
    VgPixels colour = {0}, alpha = {0}, out = {0};
    const gint dx = target->x - read->x, dy = target->y - read->y;
    /* Without a selection nothing was read around the target: no copies. */
    const bool whole = dx == 0 && dy == 0 && target->width == read->width && target->height == read->height;
    bool done = whole ||
                (vgCropPixels(result, dx, dy, target->width, target->height, &colour, failure) &&
                 (!keptAlpha->data || vgCropPixels(keptAlpha, dx, dy, target->width, target->height, &alpha, failure)));
    const VgPixels* keptPart = whole ? keptAlpha : &alpha;
    done = done &&
           vgResultForLayer(whole ? result : &colour, outputScale, gimp_drawable_has_alpha(drawable),
                            keptPart->data ? keptPart : NULL, &out, failure) &&
           vgWriteRegion(drawable, target->x, target->y, &out, failure);
    vgFreePixels(&colour);
    vgFreePixels(&alpha);
    vgFreePixels(&out);
    return done;
}

/* An enlarging model: the layer is scaled by GIMP first, which also gives a
 * smoothly enlarged alpha, then the result replaces its colours; the canvas
 * grows to show the whole layer. One undo group. */
static bool writeEnlarged(gint32 image, gint32 drawable, int32_t scale, const VgPixels* result, float outputScale,
                          VgFailure* failure) {
    gint x = 0, y = 0;
    gimp_drawable_offsets(drawable, &x, &y);
    const gint width = result->width, height = result->height;
    gimp_image_undo_group_start(image);
    bool done = false;
    VgPixels scaled = {0}, alpha = {0}, out = {0};
    if (!gimp_layer_scale(drawable, width, height, TRUE) || !gimp_layer_set_offsets(drawable, x, y)) {
        vgFail(failure, "GIMP could not enlarge the layer %d times", (int)scale);
        goto end;
    }
    const bool layerAlpha = gimp_drawable_has_alpha(drawable);
    if (layerAlpha && (result->channels == 1 || result->channels == 3)) {
        if (!vgReadRegion(drawable, 0, 0, width, height, &scaled, failure) ||
            !vgTakeChannel(&scaled, scaled.channels - 1, &alpha, failure))
            goto end;
    }
    if (!vgResultForLayer(result, outputScale, layerAlpha, alpha.data ? &alpha : NULL, &out, failure) ||
        !vgWriteRegion(drawable, 0, 0, &out, failure))
        goto end;
    const gint canvasWidth = MAX(gimp_image_width(image), x + width);
    const gint canvasHeight = MAX(gimp_image_height(image), y + height);
    if ((canvasWidth != gimp_image_width(image) || canvasHeight != gimp_image_height(image)) &&
        !gimp_image_resize(image, canvasWidth, canvasHeight, 0, 0)) {
        vgFail(failure, "GIMP could not grow the canvas to %d x %d", canvasWidth, canvasHeight);
        goto end;
    }
    done = true;
end:
    gimp_image_undo_group_end(image);
    vgFreePixels(&scaled);
    vgFreePixels(&alpha);
    vgFreePixels(&out);
    return done;
}

VgRunOutcome vgProcessDrawable(gint32 image, gint32 drawable, const VgRunSettings* settings, VgFailure* failure) {
    VgRunOutcome outcome = VG_RUN_FAILED;
    ModelFile model;
    VgLoadedModel* loaded = NULL;
    VgModelFit fit;
    VgTiling tiling;
    VgPixels layer = {0}, input = {0}, keptAlpha = {0}, result = {0};
    GeglRectangle target, read;
    if (!readModelFile(settings->modelPath, &model, failure)) return VG_RUN_FAILED;
    loaded = vgLoadModel(model.bytes, model.size, failure);
    g_free(model.bytes); /* the loaded model keeps its own copy */
    model.bytes = NULL;
    if (!loaded || !vgFitLoadedModel(loaded, settings->tile, &fit, failure) ||
        !vgResolveTiling(settings, &fit, &tiling, failure))
        goto end;

    if (!gimp_drawable_mask_intersect(drawable, &target.x, &target.y, &target.width, &target.height)) {
        vgFail(failure, "the selection does not touch this layer");
        goto end;
    }
    const bool selection = !gimp_selection_is_empty(image);
    const gint margin = selection ? vgContextMargin(&tiling) : 0;
    read.x = MAX(0, target.x - margin);
    read.y = MAX(0, target.y - margin);
    read.width = MIN(gimp_drawable_width(drawable), target.x + target.width + margin) - read.x;
    read.height = MIN(gimp_drawable_height(drawable), target.y + target.height + margin) - read.y;
    if (!vgReadRegion(drawable, read.x, read.y, read.width, read.height, &layer, failure) ||
        !vgFitToModel(&layer, fit.inputChannels, tiling.inputScale, &input, &keptAlpha, failure))
        goto end;
    vgFreePixels(&layer);

    gimp_progress_init("Running the model");
    outcome = vgRunModel(loaded, &tiling, &input, showProgress, NULL, &result, failure);
    vgFreePixels(&input);
    if (outcome != VG_RUN_DONE) goto end;
    outcome = VG_RUN_FAILED;

    int32_t scale = 0;
    if (!vgResultScale(read.width, read.height, result.width, result.height, &scale, failure)) goto end;
    if (scale == 1) {
        if (!writeSameSize(drawable, &read, &target, &result, &keptAlpha, tiling.outputScale, failure)) goto end;
    } else {
        if (selection) {
            vgFail(failure, "the model enlarges the picture %d times; it runs on whole layers only (Select > None)",
                   (int)scale);
            goto end;
        }
        if (!gimp_item_is_layer(drawable)) {
            vgFail(failure, "the model enlarges the picture %d times; only layers can be enlarged", (int)scale);
            goto end;
        }
        if (!writeEnlarged(image, drawable, scale, &result, tiling.outputScale, failure)) goto end;
    }
    gimp_progress_update(1.0);
    outcome = VG_RUN_DONE;
end:
    vgFreePixels(&layer);
    vgFreePixels(&input);
    vgFreePixels(&keptAlpha);
    vgFreePixels(&result);
    vgUnloadModel(loaded);
    g_free(model.bytes);
    return outcome;
}
