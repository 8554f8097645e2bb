/* One model run through libvelmora's exported functions, as any host makes
 * it: a fresh context, the model loaded from bytes, one tiled float
 * prediction, and everything released again. */
#ifndef VELMORA_GIMP_LIBRARY_RUN_H
#define VELMORA_GIMP_LIBRARY_RUN_H

#include <stddef.h>

#include "failure.h"
#include "layer_pixels.h"
#include "model_shape.h"
#include "run_settings.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Told the share done, from 0 to 1; returning true asks the run to stop. */
typedef bool (*VgProgressFn)(void* userData, double fraction);

typedef enum VgRunOutcome { VG_RUN_DONE, VG_RUN_FAILED, VG_RUN_STOPPED } VgRunOutcome;

/* Runs the model over |input| with |tiling| (its scales are not applied
 * here). |shape| may be null when the file could not be described. On
 * VG_RUN_DONE |result| owns the library's result, whose size may differ from
 * the input's; otherwise it is empty and |failure| holds the library's words
 * (VG_RUN_FAILED) or says that the run was stopped. The model bytes are only
 * borrowed. Failures that leave the library as C++ exceptions are reported the
 * same way, since a C host cannot catch them. */
VgRunOutcome vgRunModel(const void* modelBytes, size_t modelSize, const VgModelShape* shape, const VgModelFit* fit,
                        const VgTiling* tiling, const VgPixels* input, VgProgressFn progress, void* userData,
                        VgPixels* result, VgFailure* failure);

#ifdef __cplusplus
}
#endif

#endif
