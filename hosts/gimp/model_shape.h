/* What the plug-in learns from a model file before handing it to the
 * library: the library takes models as bytes and does not tell a host their
 * shapes, yet the tile size must equal the model's input side and the layer's
 * channels must be fitted to what the model takes. */
#ifndef VELMORA_GIMP_MODEL_SHAPE_H
#define VELMORA_GIMP_MODEL_SHAPE_H

#include <stddef.h>
#include <stdint.h>

#include "failure.h"

#ifdef __cplusplus
extern "C" {
#endif

enum { VG_MAX_DIMS = 8, VG_MAX_NAME = 256 };

typedef struct VgTensor {
    char name[VG_MAX_NAME];    /* cut short if longer */
    int32_t elementType;       /* ONNX code: 1 is 32-bit float */
    int32_t rank;              /* number of dimensions; more than VG_MAX_DIMS are not kept */
    int64_t dims[VG_MAX_DIMS]; /* -1 for a dimension the model leaves open */
} VgTensor;

/* The graph's first input that is not an initializer and its first output. */
typedef struct VgModelShape {
    int32_t inputCount; /* graph inputs that are not initializers */
    int32_t outputCount;
    VgTensor input;
    VgTensor output;
} VgModelShape;

/* Walks the ONNX protobuf. False when the bytes are not an ONNX model. */
bool vgDescribeModel(const void* bytes, size_t size, VgModelShape* shape, VgFailure* failure);

/* How the model is run: the library's layout codes (0 channels-first, 1
 * channels-last), the square tile side and the channel counts (0: unknown). */
typedef struct VgModelFit {
    int32_t tile;
    int32_t inputChannels;
    int32_t outputChannels;
    int32_t inputLayout;
    int32_t outputLayout;
} VgModelFit;

/* |shape| may be null when the file could not be described; the tile must
 * then be given. |askedTile| 0 takes the model's input side. False, with the
 * reason, when the model cannot run in tiles of that size. */
bool vgFitModel(const VgModelShape* shape, int32_t askedTile, VgModelFit* fit, VgFailure* failure);

#ifdef __cplusplus
}
#endif

#endif
