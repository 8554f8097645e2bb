#include "process_drawable.h"

#include <string.h>

#include "drawable_io.h"
#include "layer_pixels.h"
#include "layer_plan.h"
#include "model_profile.h"
#include "place_result.h"

VgLoadedModel* vgLoadModelFile(const char* path, VgFailure* failure) {
    if (!path[0]) {
        vgFail(failure, "no model file was given");
        return NULL;
    }
    gchar* bytes = NULL;
    gsize size = 0;
    GError* error = NULL;
    if (!g_file_get_contents(path, &bytes, &size, &error)) {
        vgFail(failure, "%s", error->message);
        g_error_free(error);
        return NULL;
    }
    VgLoadedModel* loaded = vgLoadModel(bytes, size, failure);
    g_free(bytes); /* the loaded model keeps its own copy */
    return loaded;
}

static bool showProgress(void* userData, double fraction) {
    (void)userData;
    /* GIMP 2.10 tells a plug-in nothing when the user cancels: it ends the
     * plug-in's process, before anything was written to the image. */
    gimp_progress_update(fraction);
    return false;
}

/* The rectangle the model is shown: the target, with the plan's margin
 * around a selection so that its pixels see their real neighbours, or the
 * whole layer for a model that reads the picture as a whole. */
static GeglRectangle readRectangle(gint32 drawable, const GeglRectangle* target, bool selection,
                                   const VelmoraPlan* plan) {
    const gint width = gimp_drawable_width(drawable), height = gimp_drawable_height(drawable);
    if (plan->strategy == VELMORA_STRATEGY_WHOLE) return (GeglRectangle){0, 0, width, height};
    const gint margin = selection ? vgContextMargin(plan) : 0;
    GeglRectangle read;
    read.x = MAX(0, target->x - margin);
    read.y = MAX(0, target->y - margin);
    read.width = MIN(width, target->x + target->width + margin) - read.x;
    read.height = MIN(height, target->y + target->height + margin) - read.y;
    return read;
}

/* |pixels| cut to |area| in place, when it is smaller. */
static bool cropTo(VgPixels* pixels, const GeglRectangle* area, VgFailure* failure) {
    if (!pixels->data || (area->width == pixels->width && area->height == pixels->height)) return true;
    VgPixels part;
    if (!vgCropPixels(pixels, area->x, area->y, area->width, area->height, &part, failure)) return false;
    vgFreePixels(pixels);
    *pixels = part;
    return true;
}

VgRunOutcome vgProcessDrawable(gint32 image, gint32 drawable, const VgRunSettings* settings, VgLoadedModel* loaded,
                               VgFailure* failure) {
    VgRunOutcome outcome = VG_RUN_FAILED;
    VgModelFit fit;
    VelmoraPlan plan, partPlan;
    VelmoraProfile profile;
    VgPixels layer = {0}, input = {0}, keptAlpha = {0}, result = {0};
    GeglRectangle target;
    if (!vgCheckSettings(settings, failure) || !vgOutputFits(drawable, (VgOutput)settings->output, failure)) goto end;
    if (!loaded && !(loaded = vgLoadModelFile(settings->modelPath, failure))) goto end;
    if (!vgUseProfile(loaded, settings->modelPath, settings->mean, settings->std, failure) ||
        !vgProfileInEffect(loaded, &profile, failure) || !vgFitLoadedModel(loaded, settings->tile, &fit, failure))
        goto end;

    if (!gimp_drawable_mask_intersect(drawable, &target.x, &target.y, &target.width, &target.height)) {
        vgFail(failure, "the selection does not touch this layer");
        goto end;
    }
    const bool selection = !gimp_selection_is_empty(image);
    if (!vgReadRegion(drawable, 0, 0, gimp_drawable_width(drawable), gimp_drawable_height(drawable), &layer, failure) ||
        !vgFitToModel(&layer, fit.inputChannels, (float)settings->inputScale, &input, &keptAlpha, failure))
        goto end;
    vgFreePixels(&layer);

    gimp_progress_init("Planning the run");
    if (!vgPlanLayer(loaded, &fit, settings, &input, &plan, failure)) goto end;
    const GeglRectangle read = readRectangle(drawable, &target, selection, &plan);
    const bool part = read.width != input.width || read.height != input.height;
    if (part && (!vgPlanPart(loaded, &plan, read.width, read.height, &partPlan, failure) ||
                 !cropTo(&input, &read, failure) || !cropTo(&keptAlpha, &read, failure)))
        goto end;

    gimp_progress_init("Running the model");
    outcome = vgRunPlan(loaded, part ? &partPlan : &plan, &input, showProgress, NULL, &result, failure);
    vgFreePixels(&input);
    if (outcome != VG_RUN_DONE) goto end;
    outcome = VG_RUN_FAILED;

    const VgRunResult run = {read, target, selection, &result, &keptAlpha, profile.output == VELMORA_OUTPUT_MASK};
    if (!vgPlaceResult(image, drawable, settings, &run, failure)) goto end;
    gimp_progress_update(1.0);
    outcome = VG_RUN_DONE;
end:
    vgFreePixels(&layer);
    vgFreePixels(&input);
    vgFreePixels(&keptAlpha);
    vgFreePixels(&result);
    vgUnloadModel(loaded);
    return outcome;
}
