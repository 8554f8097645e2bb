/* How the plug-in runs a loaded model: the tile side and the channels the
 * layer is fitted to, from the library's typed description of the model. */
#ifndef VELMORA_GIMP_MODEL_FIT_H
#define VELMORA_GIMP_MODEL_FIT_H

#include <stdint.h>

#include "failure.h"
#include "velmora.h"

#ifdef __cplusplus
extern "C" {
#endif

/* How the model is run: the square tile side and the channel counts (0: the
 * model leaves them open). */
typedef struct VgModelFit {
    int32_t tile;
    int32_t inputChannels;
    int32_t outputChannels;
    bool openSize; /* any tile side will do */
} VgModelFit;

/* |askedTile| 0 takes the model's input side, or where the model leaves it
 * open leaves |fit->tile| 0 for the library's plan to choose. One side open
 * and one fixed: the fixed one is the tile. False, with the reason, when the
 * model cannot run in tiles of that size. */
bool vgFitModel(const VelmoraModelInfo* model, int32_t askedTile, VgModelFit* fit, VgFailure* failure);

#ifdef __cplusplus
}
#endif

#endif
