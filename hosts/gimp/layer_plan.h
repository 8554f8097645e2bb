/* The plan the plug-in runs a layer by: the library's own, made for the
 * layer's size and measured on its pixels, or tiles as the user asked. No
 * GIMP here, so that it can be tested alone. */
#ifndef VELMORA_GIMP_LAYER_PLAN_H
#define VELMORA_GIMP_LAYER_PLAN_H

#include "failure.h"
#include "layer_pixels.h"
#include "library_run.h"
#include "model_fit.h"
#include "run_settings.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The plan for the whole of |input| (the layer's pixels as the model takes
 * them): the library's own where the settings leave tile and step 0, else
 * tiles as vgResolveTiling gives them. */
bool vgPlanLayer(VgLoadedModel* model, const VgModelFit* fit, const VgRunSettings* settings, const VgPixels* input,
                 VelmoraPlan* plan, VgFailure* failure);

/* The plan for a part of |width| x |height| of the layer with the tiles of
 * |layerPlan| (a plan of tiles), planned as asked, with no measuring. */
bool vgPlanPart(VgLoadedModel* model, const VelmoraPlan* layerPlan, int32_t width, int32_t height, VelmoraPlan* part,
                VgFailure* failure);

/* How many pixels around a selection the model is shown as well, so that
 * the selected pixels see their real neighbours rather than repeated edges:
 * the plan's tile margin at full scale. */
int32_t vgContextMargin(const VelmoraPlan* plan);

#ifdef __cplusplus
}
#endif

#endif
