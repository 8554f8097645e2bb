/* The model's normalisation: its profile from a sidecar MODEL.onnx.json
 * beside the model file when there is one, else from the model's metadata
 * (read by the library), with the user's mean and std in place of the
 * profile's when given. */
#ifndef VELMORA_GIMP_MODEL_PROFILE_H
#define VELMORA_GIMP_MODEL_PROFILE_H

#include "failure.h"
#include "library_run.h"
#include "velmora.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Looks for the sidecar once per load; |mean| and |std| ("" or null: the
 * profile's) become the host's profile, the rest of it staying the
 * model's. False, with the reason, for a sidecar the library refuses or
 * values that are not a profile. Calling again with the same values
 * changes nothing, so that the measured model stays measured. */
bool vgUseProfile(VgLoadedModel* model, const char* modelPath, const char* mean, const char* std, VgFailure* failure);

bool vgProfileInEffect(VgLoadedModel* model, VelmoraProfile* profile, VgFailure* failure);

#ifdef __cplusplus
}
#endif

#endif
