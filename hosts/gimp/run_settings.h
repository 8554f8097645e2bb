/* The options of one run, as the procedure's parameters and the dialog give
 * them and as they are remembered between runs. */
#ifndef VELMORA_GIMP_RUN_SETTINGS_H
#define VELMORA_GIMP_RUN_SETTINGS_H

#include <stdint.h>

#include "failure.h"
#include "model_fit.h"

#ifdef __cplusplus
extern "C" {
#endif

enum { VG_MAX_PATH = 4096 };

/* Kept with gimp_set_data as plain bytes; |layoutVersion| lets a later
 * plug-in ignore what an older one stored. */
typedef struct VgRunSettings {
    uint32_t layoutVersion;
    char modelPath[VG_MAX_PATH];
    int32_t tile;      /* 0: the model's input side */
    int32_t step;      /* 0: the tile less a sixteenth of it on each side */
    int32_t downscale; /* 1: none; K >= 2 shrinks by K first; -K also restores the detail */
    double inputScale;
    double outputScale;
} VgRunSettings;

enum { VG_SETTINGS_LAYOUT = 1 };

void vgDefaultSettings(VgRunSettings* settings);

/* What the library is called with. */
typedef struct VgTiling {
    int32_t tile;
    int32_t step;
    int32_t downscale;
    float inputScale;
    float outputScale;
} VgTiling;

/* The distance between tiles when none is given: the tile less a sixteenth
 * of it on each side, so that the seams fall in discarded margins. */
int32_t vgDefaultStep(int32_t tile);

/* How many pixels around a selection the model is shown as well, so that
 * the selected pixels see their real neighbours rather than repeated edges:
 * the part of each tile that the library discards, at full scale. */
int32_t vgContextMargin(const VgTiling* tiling);

/* Checks the settings against the model's fit (fit->tile already resolved)
 * and fills |tiling|. False, with the reason, for a step outside 1..tile, a
 * downscale of 0, or scales that are not finite numbers. */
bool vgResolveTiling(const VgRunSettings* settings, const VgModelFit* fit, VgTiling* tiling, VgFailure* failure);

#ifdef __cplusplus
}
#endif

#endif
