#include "run_settings.h"

#include <math.h>
#include <string.h>

void vgDefaultSettings(VgRunSettings* settings) {
    memset(settings, 0, sizeof *settings);
    settings->layoutVersion = VG_SETTINGS_LAYOUT;
    settings->downscale = 1;
    settings->inputScale = 1.0;
    settings->outputScale = 1.0;
}

int32_t vgDefaultStep(int32_t tile) {
    const int32_t step = tile - 2 * (tile / 16);
    return step > 0 ? step : 1;
}

static bool usableScale(double scale) { return isfinite(scale) && fabs(scale) <= 3.0e38 && scale != 0.0; }

bool vgResolveTiling(const VgRunSettings* settings, const VgModelFit* fit, VgTiling* tiling, VgFailure* failure) {
    memset(tiling, 0, sizeof *tiling);
    if (fit->tile <= 0) return vgFail(failure, "the tile size must be positive");
    const int32_t step = settings->step ? settings->step : vgDefaultStep(fit->tile);
    if (step < 1 || step > fit->tile)
        return vgFail(failure, "the step (%d) must be between 1 and the tile size (%d)", (int)step, (int)fit->tile);
    if (settings->downscale == 0)
        return vgFail(failure, "the downscale factor must be 1 (none), 2 or more, or -2 or less (with detail)");
    if (settings->downscale < -1024 || settings->downscale > 1024)
        return vgFail(failure, "the downscale factor %d is out of range (-1024 to 1024)", (int)settings->downscale);
    if (!usableScale(settings->inputScale) || !usableScale(settings->outputScale))
        return vgFail(failure, "the input and output scales must be finite numbers other than 0");
    tiling->tile = fit->tile;
    tiling->step = step;
    tiling->downscale = settings->downscale;
    tiling->inputScale = (float)settings->inputScale;
    tiling->outputScale = (float)settings->outputScale;
    return true;
}

int32_t vgContextMargin(const VgTiling* tiling) {
    const int32_t factor = tiling->downscale < 0 ? -tiling->downscale : tiling->downscale;
    return (tiling->tile - tiling->step) / 2 * (factor > 1 ? factor : 1);
}
