// A picture the library makes for measuring a model when a host gives none:
// light paper with smooth shading, coloured shapes, fine texture and lines of
// small printed words, so that models of photos, of documents and of masks
// all find something to respond to. The same pixels on every call.
#pragma once

#include <cstdint>

#include "image/image_records.h"

// Fills `picture` (any sizes and channel count) with values in [0, 1].
void drawStockPicture(const ImageFloat& picture);
