// The pipeline's enlargement when nothing was shrunk: a bilinear resize at
// scale 1 between images of equal sizes, without the per-pixel coordinate
// work of the general resize.
#pragma once

#include "image/image_records.h"

// Writes into dest what resizeBilinear(src, dest, 1.0f, 1.0f) writes, bit for
// bit except for which NaN a NaN sample holds: zero weights still carry
// infinities and NaNs of the neighbours into a sample, and signs of zero
// follow the same sums. Returns false, writing nothing, when the images
// differ in sizes or channels or are too large for every coordinate to be
// exact in single precision; the caller then uses the general resize.
bool copyAtUnitScale(const ImageFloat& src, const ImageFloat& dest);
