// What a model makes of square tiles, worked out once per call from its
// declared shapes: how a tile goes in, and how its results are read, first
// from the declared output and then from the first result.
#pragma once

#include <cstdint>
#include <vector>

#include "backend/model_description.h"
#include "diagnostics/expected.h"
#include "tiling/tile_layout.h"
#include "tiling/tile_tensor.h"

struct ModelTiles {
    TileInputSpec input;
    // The output as declared (empty: unknown, read as interleaved floats) and
    // the code that decides where its shape cannot.
    std::vector<int64_t> outputDeclared;
    int32_t outputLayoutCode = 1;
    // Fixed by the declared output, or 0 until a result tells.
    int32_t scale = 0;
    int32_t outputChannels = 0;
};

// How the model takes square tiles of side x side with `channels`
// interleaved channels, or why it cannot, in words without a subject ("takes
// 16 x 16 tiles, not 32 x 32"). A model the backend cannot describe takes
// them as they are.
Expected<ModelTiles> modelTiles(const ModelDescription& model, int32_t side, int32_t channels);

// How the results of one run are read: the first result fixes their layout,
// sizes and scale, and later ones are held to it.
class ResultReader {
public:
    ResultReader(ModelTiles& model, int32_t side) : model_(model), side_(side) {}

    // The result's layout and sizes, or why it is no tile's result ("returned
    // a 24 x 24 result for a 16 x 16 tile").
    Expected<TensorFrame> shape(const TileTensor& tensor);
    // Whether the result fits the run: channels, and the scale of the results
    // so far, which the first fixes.
    Expected<TensorFrame> check(const TensorFrame& frame);

private:
    ModelTiles& model_;
    int32_t side_;
    std::vector<int64_t> firstDims_;  // of the first result that passed, empty before it
    TensorFrame firstFrame_;
    std::vector<int64_t> pendingDims_;  // of the result being read
};
