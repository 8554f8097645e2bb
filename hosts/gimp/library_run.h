/* Model runs through libvelmora, as any host makes them: a fresh context
 * with the model loaded from bytes, the library's description of it, its
 * plan for the picture, one run by that plan, and everything released
 * again. */
#ifndef VELMORA_GIMP_LIBRARY_RUN_H
#define VELMORA_GIMP_LIBRARY_RUN_H

#include <stddef.h>

#include "failure.h"
#include "layer_pixels.h"
#include "model_fit.h"
#include "velmora.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Told the share done, from 0 to 1; returning true asks the run to stop. */
typedef bool (*VgProgressFn)(void* userData, double fraction);

typedef enum VgRunOutcome { VG_RUN_DONE, VG_RUN_FAILED, VG_RUN_STOPPED } VgRunOutcome;

/* Shows the library's and the runtime's warnings and errors on standard
 * error, after the plug-in's name, and nothing else they say. Called once,
 * before the first model is loaded. */
void vgShowLibraryWarnings(void);

/* A context of the library with one model loaded. */
typedef struct VgLoadedModel VgLoadedModel;

/* Loads the model from a copy of |modelBytes|, which the model keeps. Null,
 * with the library's words in |failure|, when the runtime refuses it.
 * Released with vgUnloadModel. */
VgLoadedModel* vgLoadModel(const void* modelBytes, size_t modelSize, VgFailure* failure);
void vgUnloadModel(VgLoadedModel* model);

/* Fits the model, as the library describes it, to |askedTile| (vgFitModel). */
bool vgFitLoadedModel(VgLoadedModel* model, int32_t askedTile, VgModelFit* fit, VgFailure* failure);

/* The library's plan for |request| (its size field is set here); the
 * library measures the model first unless both tile and step are given. */
bool vgPlanModelRun(VgLoadedModel* model, const VelmoraPlanRequest* request, VelmoraPlan* plan, VgFailure* failure);

/* Runs the model over |input| by |plan|, made for its sizes, with the
 * profile in effect applied on the way in and out. On VG_RUN_DONE |result|
 * owns the library's result, whose size may differ from the input's;
 * otherwise it is empty and |failure| holds the library's words
 * (VG_RUN_FAILED) or says that the run was stopped. Failures that leave the
 * library as C++ exceptions are reported the same way, since a C host cannot
 * catch them. */
VgRunOutcome vgRunPlan(VgLoadedModel* model, const VelmoraPlan* plan, const VgPixels* input, VgProgressFn progress,
                       void* userData, VgPixels* result, VgFailure* failure);

#ifdef __cplusplus
}
#endif

#endif
