/* Where a model's result goes: a new layer above the source (the source
 * stays as it was), the source's own pixels, or the source layer's mask.
 * The image is changed only here, after the library has finished. */
#ifndef VELMORA_GIMP_PLACE_RESULT_H
#define VELMORA_GIMP_PLACE_RESULT_H

#include <gegl.h>
#include <libgimp/gimp.h>

#include "failure.h"
#include "layer_pixels.h"
#include "run_settings.h"

/* What was run and what came of it: the result of the model on the |read|
 * rectangle of the drawable, of which |target| (inside |read|) is to change;
 * |keptAlpha| is the layer's alpha over |read| when the model did not take
 * it (may be empty); |maskOutput| when the model's profile calls its output a
 * mask. */
typedef struct VgRunResult {
    GeglRectangle read;
    GeglRectangle target;
    bool selection;
    const VgPixels* result;
    const VgPixels* keptAlpha;
    bool maskOutput;
} VgRunResult;

/* False, with the reason, when |output| cannot be made from |drawable| at
 * all: a new layer or a mask needs a layer. Checked before the model runs. */
bool vgOutputFits(gint32 drawable, VgOutput output, VgFailure* failure);

/* Places the result as |settings->output| says, as one undo step or group;
 * a failure leaves the image as it was. */
bool vgPlaceResult(gint32 image, gint32 drawable, const VgRunSettings* settings, const VgRunResult* run,
                   VgFailure* failure);

#endif
