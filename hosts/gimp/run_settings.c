#include "run_settings.h"

#include <math.h>
#include <string.h>

void vgDefaultSettings(VgRunSettings* settings) {
    memset(settings, 0, sizeof *settings);
    settings->layoutVersion = VG_SETTINGS_LAYOUT;
    settings->downscale = 1;
    settings->inputScale = 1.0;
    settings->outputScale = 1.0;
    settings->output = VG_OUTPUT_NEW_LAYER;
}

int32_t vgDefaultStep(int32_t tile) {
    const int32_t step = tile - 2 * (tile / 16);
    return step > 0 ? step : 1;
}

static bool usableScale(double scale) { return isfinite(scale) && fabs(scale) <= 3.0e38 && scale != 0.0; }

bool vgNeedsPlannedTile(const VgRunSettings* settings, const VgModelFit* fit) {
    return settings->tile == 0 && settings->step != 0 && fit->tile == 0;
}

bool vgCheckSettings(const VgRunSettings* settings, VgFailure* failure) {
    if (settings->tile < 0) return vgFail(failure, "the tile size must be positive (0 takes the plan's)");
    if (settings->downscale == 0)
        return vgFail(failure, "the downscale factor must be 1 (none), 2 or more, or -2 or less (with detail)");
    if (settings->downscale < -1024 || settings->downscale > 1024)
        return vgFail(failure, "the downscale factor %d is out of range (-1024 to 1024)", (int)settings->downscale);
    if (!usableScale(settings->inputScale) || !usableScale(settings->outputScale))
        return vgFail(failure, "the input and output scales must be finite numbers other than 0");
    if (settings->output < VG_OUTPUT_NEW_LAYER || settings->output > VG_OUTPUT_MASK)
        return vgFail(failure, "the output must be 0 (a new layer), 1 (replace the layer) or 2 (the layer's mask)");
    return true;
}

bool vgResolveTiling(const VgRunSettings* settings, const VgModelFit* fit, int32_t plannedTile, VgTiling* tiling,
                     VgFailure* failure) {
    memset(tiling, 0, sizeof *tiling);
    if (!vgCheckSettings(settings, failure)) return false;
    tiling->downscale = settings->downscale;
    tiling->inputScale = (float)settings->inputScale;
    tiling->outputScale = (float)settings->outputScale;
    if (settings->tile == 0 && settings->step == 0) return true; /* the library's plan */
    const int32_t tile = settings->tile ? settings->tile : fit->tile ? fit->tile : plannedTile;
    if (tile <= 0) return vgFail(failure, "give a tile size with the step, or leave both 0 for the plan's");
    const int32_t step = settings->step ? settings->step : vgDefaultStep(tile);
    if (step < 1 || step > tile)
        return vgFail(failure, "the step (%d) must be between 1 and the tile size (%d)", (int)step, (int)tile);
    tiling->tile = tile;
    tiling->step = step;
    return true;
}
