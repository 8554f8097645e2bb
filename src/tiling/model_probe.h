// What a model needs of the tiled runs, measured once by running it on a
// picture (the host's sample, or the library's stock picture):
// - the tile sides it takes (a multiple, for a model of open sizes);
// - its reach: the margin beyond which a tile's result agrees with that of a
//   larger view, found by cutting overlapping tiles and reading how their
//   disagreement falls with the distance from the tile's edge (not from the
//   influence of one pixel: many models pool over the whole tile and move
//   every value a little);
// - whether it needs the whole picture: tiles disagree at every margin a
//   tile allows;
// - what a run costs at a few sides, for choosing the tile.
#pragma once

#include <cstdint>
#include <vector>

#include "backend/ModelLogic.h"
#include "backend/model_description.h"
#include "diagnostics/expected.h"
#include "image/image_records.h"
#include "tiling/value_transform.h"

struct ModelNeeds {
    bool fixedSide = false;
    int32_t multiple = 1;  // sides are multiples of this (the side itself when fixed)
    int32_t smallestSide = 0;
    int32_t scale = 1;
    int32_t outputChannels = 0;
    int32_t reach = 0;  // in the picture's pixels
    bool wholePicture = false;
    bool exact = false;               // beyond the reach, tiles agree to rounding
    float outputRange = 1;            // of the results on the probe's picture
    float floor = 0;                  // the typical disagreement no margin removes
    float tolerance = 0;              // the typical disagreement that counts
    int32_t probeSide = 0;            // of the tiles the reach was measured with
    std::vector<float> disagreement;  // typical, by distance from a tile's edge (result pixels)
    struct Cost {
        int32_t side;
        double seconds;  // one run
    };
    std::vector<Cost> costs;  // by side, ascending
    double probeSeconds = 0;

    // Seconds of one run of a `side` tile, from the measured sides.
    double secondsPerRun(int32_t side) const;
};

// Measures `model` through `backend` with `channels` input channels.
// `sample` (may be null) is a picture of the host's to measure on.
Expected<ModelNeeds> probeModel(ModelLogic& backend, const ModelDescription& model, int32_t channels,
                                const ImageFloat* sample, const ValueTransform& transform);
