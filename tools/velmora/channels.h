// Fitting an image's channels to what a model takes, and back.
#pragma once

#include <vector>

#include "raster.h"

struct ModelInput {
    Raster image;              // the channels the model takes
    std::vector<float> alpha;  // the alpha set aside, one value per pixel, or empty
};

// Gray becomes RGB by repetition for a 3-channel model; an alpha channel the
// model does not take is set aside; a 4-channel model gets an opaque alpha
// when the image has none. modelChannels 0 (unknown) takes the image as it is.
// Throws when the image cannot be fitted (for instance RGB for a gray model).
ModelInput fitChannels(const Raster& image, int modelChannels);

// Puts a set-aside alpha back behind a gray or RGB result of the same size.
Raster restoreAlpha(Raster result, const std::vector<float>& alpha);
