/* What the plug-in learns about a loaded model before running it: the
 * library describes the model's inputs and outputs in text, and the tile size
 * and the channels the layer is fitted to follow from those shapes. */
#ifndef VELMORA_GIMP_MODEL_DETAILS_H
#define VELMORA_GIMP_MODEL_DETAILS_H

#include <stdint.h>

#include "failure.h"

#ifdef __cplusplus
extern "C" {
#endif

enum { VG_MAX_DIMS = 8, VG_MAX_NAME = 256 };

/* The tile side for a model that leaves its sizes open and a run that names
 * none: large enough that the discarded margins cost little, small enough
 * for any runtime's memory. */
enum { VG_OPEN_SIZE_TILE = 256 };

typedef enum VgLayout { VG_LAYOUT_NONE = -1, VG_CHANNELS_FIRST = 0, VG_CHANNELS_LAST = 1 } VgLayout;

typedef struct VgTensor {
    char name[VG_MAX_NAME];    /* cut short if longer */
    int32_t rank;              /* number of dimensions; more than VG_MAX_DIMS are not kept */
    int64_t dims[VG_MAX_DIMS]; /* -1 for a dimension the model leaves open */
    VgLayout layout;           /* as the library reads a shape of four dimensions */
} VgTensor;

/* The model's first input and first output, and how many there are. */
typedef struct VgModelShape {
    int32_t inputCount;
    int32_t outputCount;
    VgTensor input;
    VgTensor output;
} VgModelShape;

/* Reads the library's description of a loaded model (getModelInformation's
 * detailed text: lines 'Input "name": type [d, ...], channels-first'). False,
 * with the reason, when the text names no input or output it can read. */
bool vgReadModelDetails(const char* text, VgModelShape* shape, VgFailure* failure);

/* How the model is run: the square tile side and the channel counts (0: the
 * model leaves them open). */
typedef struct VgModelFit {
    int32_t tile;
    int32_t inputChannels;
    int32_t outputChannels;
    bool openSize; /* any tile side will do */
} VgModelFit;

/* |shape| may be null when the model could not be described; the tile must
 * then be given. |askedTile| 0 takes the model's input side, or
 * VG_OPEN_SIZE_TILE where the model leaves it open. False, with the reason,
 * when the model cannot run in tiles of that size. */
bool vgFitModel(const VgModelShape* shape, int32_t askedTile, VgModelFit* fit, VgFailure* failure);

#ifdef __cplusplus
}
#endif

#endif
