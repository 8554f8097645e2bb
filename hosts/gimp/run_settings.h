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

enum { VG_MAX_PATH = 4096, VG_MAX_VALUES_TEXT = 256 };

/* Where the result goes. */
typedef enum VgOutput {
    VG_OUTPUT_NEW_LAYER = 0, /* a new layer above the source, which stays as it was */
    VG_OUTPUT_REPLACE = 1,   /* the source's own pixels */
    VG_OUTPUT_MASK = 2       /* the source layer's mask: a mask or one-channel result */
} VgOutput;

/* Kept with gimp_set_data as plain bytes; |layoutVersion| lets a later
 * plug-in ignore what an older one stored. */
typedef struct VgRunSettings {
    uint32_t layoutVersion;
    char modelPath[VG_MAX_PATH];
    int32_t tile;      /* 0: the plan's */
    int32_t step;      /* 0: the plan's; with a tile given, the tile less a sixteenth of it on each side */
    int32_t downscale; /* 1: none; K >= 2 shrinks by K first; -K also restores the detail */
    double inputScale;
    double outputScale;
    char mean[VG_MAX_VALUES_TEXT]; /* "": the model's profile; else numbers separated by commas */
    char std[VG_MAX_VALUES_TEXT];
    int32_t output; /* VgOutput */
} VgRunSettings;

enum { VG_SETTINGS_LAYOUT = 2 };

void vgDefaultSettings(VgRunSettings* settings);

/* What the library is asked for. Tile and step both 0 leave the plan to the
 * library; otherwise both are given and the tiles are planned as asked. */
typedef struct VgTiling {
    int32_t tile;
    int32_t step;
    int32_t downscale;
    float inputScale;
    float outputScale;
} VgTiling;

/* The distance between tiles when only the tile is given: the tile less a
 * sixteenth of it on each side, so that the seams fall in discarded margins. */
int32_t vgDefaultStep(int32_t tile);

/* Whether the tiling needs the tile of the library's own plan: a step given
 * alone for a model that takes tiles of any size. */
bool vgNeedsPlannedTile(const VgRunSettings* settings, const VgModelFit* fit);

/* False, with the reason, for a negative tile, a downscale of 0 or out of
 * range, scales that are not finite numbers other than 0, or an unknown
 * output. */
bool vgCheckSettings(const VgRunSettings* settings, VgFailure* failure);

/* Checks the settings against the model's fit and fills |tiling|; a tile
 * left 0 with a step given is the model's own side, else |plannedTile|.
 * False, with the reason, for settings vgCheckSettings refuses or a step
 * outside 1..tile. */
bool vgResolveTiling(const VgRunSettings* settings, const VgModelFit* fit, int32_t plannedTile, VgTiling* tiling,
                     VgFailure* failure);

#ifdef __cplusplus
}
#endif

#endif
