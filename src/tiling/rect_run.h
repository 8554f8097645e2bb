// The model run once on a whole rectangle of interleaved floats, for
// probing and for runs of the whole picture: the input goes in in the
// model's layout and element type, the result comes back interleaved floats.
#pragma once

#include <cstdint>

#include "backend/ModelLogic.h"
#include "backend/model_description.h"
#include "diagnostics/expected.h"
#include "image/image_records.h"
#include "tiling/tile_tensor.h"

class RectRunner {
public:
    RectRunner(ModelLogic& backend, const ModelDescription& model, int32_t channels)
        : backend_(backend), model_(model), channels_(channels) {}

    // The result of one run, valid until the next; a failure in words
    // without a subject ("returned a 30 x 20 result for a 16 x 16 picture").
    // A first run that is square reads how the model's results lie from the
    // result itself; otherwise the declared output shape tells.
    Expected<ImageFloat> run(const ImageFloat& input);

private:
    ModelLogic& backend_;
    const ModelDescription& model_;
    int32_t channels_;
    bool layoutKnown_ = false;
    Layout outLayout_ = Layout::ChannelsLast;
    ImageBuffer<ImageFloat> result_;
};
