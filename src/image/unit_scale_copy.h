// resizeBilinear's form for scale 1 between images of equal sizes, without
// the per-pixel coordinate work of the general form.
#pragma once

#include "image/image_records.h"

// Writes into dest what the general bilinear resize writes at scales 1.0f, bit
// for bit except for which NaN a NaN sample holds: zero weights still carry
// infinities and NaNs of the neighbours into a sample, and signs of zero
// follow the same sums. Returns false, writing nothing, when the images
// differ in sizes or channels or are too large for every coordinate to be
// exact in single precision; the general form then serves.
bool copyAtUnitScale(const ImageFloat& src, const ImageFloat& dest);
