/* One run of a model over a drawable, from the model file to the pixels
 * written back. The drawable is changed only after the library succeeded. */
#ifndef VELMORA_GIMP_PROCESS_DRAWABLE_H
#define VELMORA_GIMP_PROCESS_DRAWABLE_H

#include <libgimp/gimp.h>

#include "failure.h"
#include "library_run.h"
#include "run_settings.h"

VgRunOutcome vgProcessDrawable(gint32 image, gint32 drawable, const VgRunSettings* settings, VgFailure* failure);

#endif
