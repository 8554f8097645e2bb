// Resampling a float image to any size, each axis on its own: an axis that
// shrinks averages the source pixels each destination pixel covers (by the
// share of each it covers), an axis that grows interpolates linearly between
// pixel centres, edges repeated. For running a model on a whole picture at
// the size it takes, and bringing its result back.
#pragma once

#include "image/image_records.h"

// `dest` (its own sizes, the source's channel count) receives `src` resampled.
void resample(const ImageFloat& src, ImageFloat dest);
