/* One run of a model over a drawable, from the model file to the result
 * placed in the image. The image is changed only after the library
 * succeeded. */
#ifndef VELMORA_GIMP_PROCESS_DRAWABLE_H
#define VELMORA_GIMP_PROCESS_DRAWABLE_H

#include <libgimp/gimp.h>

#include "failure.h"
#include "library_run.h"
#include "run_settings.h"

/* Reads the model file and loads it. Null, with the reason, when the file
 * cannot be read or the runtime refuses it. */
VgLoadedModel* vgLoadModelFile(const char* path, VgFailure* failure);

/* |loaded| (may be null: the settings' model file is loaded) is the model of
 * |settings->modelPath|, as the dialog left it measured; it is released
 * here. */
VgRunOutcome vgProcessDrawable(gint32 image, gint32 drawable, const VgRunSettings* settings, VgLoadedModel* loaded,
                               VgFailure* failure);

#endif
