#include "layer_plan.h"

#include <string.h>

static VelmoraPlanRequest requestFor(const VgPixels* input, int32_t downscale) {
    VelmoraPlanRequest request;
    memset(&request, 0, sizeof request);
    request.width = input->width;
    request.height = input->height;
    request.channels = input->channels;
    request.downscale = downscale;
    return request;
}

bool vgPlanLayer(VgLoadedModel* model, const VgModelFit* fit, const VgRunSettings* settings, const VgPixels* input,
                 VelmoraPlan* plan, VgFailure* failure) {
    memset(plan, 0, sizeof *plan);
    if (!vgCheckSettings(settings, failure)) return false;
    const ImageFloat sample = {input->width, input->height, input->channels, input->data};
    VelmoraPlanRequest request = requestFor(input, settings->downscale);
    request.sample = &sample;
    int32_t plannedTile = 0;
    if (vgNeedsPlannedTile(settings, fit)) {
        if (!vgPlanModelRun(model, &request, plan, failure)) return false;
        plannedTile = plan->tileSize;
    }
    VgTiling tiling;
    if (!vgResolveTiling(settings, fit, plannedTile, &tiling, failure)) return false;
    request.tileSize = tiling.tile;
    request.step = tiling.step;
    return vgPlanModelRun(model, &request, plan, failure);
}

bool vgPlanPart(VgLoadedModel* model, const VelmoraPlan* layerPlan, int32_t width, int32_t height, VelmoraPlan* part,
                VgFailure* failure) {
    const VgPixels sizes = {width, height, layerPlan->channels, NULL};
    VelmoraPlanRequest request = requestFor(&sizes, layerPlan->downscale);
    request.tileSize = layerPlan->tileSize;
    request.step = layerPlan->step;
    request.strategy = VELMORA_STRATEGY_TILES;
    request.blend = layerPlan->blend ? VELMORA_BLEND_ON : VELMORA_BLEND_OFF;
    return vgPlanModelRun(model, &request, part, failure);
}

int32_t vgContextMargin(const VelmoraPlan* plan) {
    const int32_t factor = plan->downscale < 0 ? -plan->downscale : plan->downscale;
    return plan->margin * (factor > 1 ? factor : 1);
}
