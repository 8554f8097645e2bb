/* Reading and writing a drawable's pixels through GEGL as perceptual
 * (gamma-encoded) floats in the image's own colour space. */
#ifndef VELMORA_GIMP_DRAWABLE_IO_H
#define VELMORA_GIMP_DRAWABLE_IO_H

#include <libgimp/gimp.h>

#include "failure.h"
#include "layer_pixels.h"

/* 1 gray, 2 gray with alpha, 3 RGB, 4 RGB with alpha. */
int32_t vgDrawableChannels(gint32 drawable);

/* Reads the rectangle (drawable coordinates) with the drawable's own
 * channels. */
bool vgReadRegion(gint32 drawable, gint x, gint y, gint width, gint height, VgPixels* pixels, VgFailure* failure);

/* Reads the rectangle at (x, y) of |pixels|' size into them, with their
 * channels (1 to 4), for memory allocated before. */
bool vgReadInto(gint32 drawable, gint x, gint y, VgPixels* pixels, VgFailure* failure);

/* Writes |pixels| (1 to 4 channels; converted by GEGL to the drawable's
 * arrangement) at (x, y) through the shadow buffer, then merges it as one undo
 * step, which blends it with the selection mask as GIMP's filters do. */
bool vgWriteRegion(gint32 drawable, gint x, gint y, const VgPixels* pixels, VgFailure* failure);

/* Writes one channel of values into a layer mask or channel as they are,
 * in its own tone curve, through the shadow buffer as vgWriteRegion does. */
bool vgWriteMaskRegion(gint32 mask, gint x, gint y, const VgPixels* pixels, VgFailure* failure);

#endif
