// What the tiled pipelines should give, computed the plain way: each tile cut
// with replicated edges, converted to the model's layout by a loop, run
// through the runtime's C API (DirectRuntime), read back from the model's
// layout and its central square placed at S times its origin; shrinking,
// enlarging and detail by the textbook formulas (box average, bilinear
// sample at x * scale with clamped edges).
#pragma once

#include <cstdint>
#include <vector>

#include "api/direct_runtime.h"

struct Picture {
    int width = 0, height = 0, channels = 0;
    std::vector<float> values;                     // interleaved
    float at(int64_t x, int64_t y, int ch) const;  // coordinates clamped into the picture
    float& operator()(int64_t x, int64_t y, int ch) { return values[(y * width + x) * channels + ch]; }
};
Picture makePicture(int width, int height, int channels);

// How a model takes and gives images.
struct ModelFacts {
    bool channelsFirstIn = false;
    bool channelsFirstOut = false;
};

// The model's result for one interleaved square tile, interleaved.
Picture runOneTile(DirectRuntime& model, const ModelFacts& facts, const Picture& tile);

// predictByTilesImageFloat's result.
Picture referenceFloat(DirectRuntime& model, const ModelFacts& facts, const Picture& image, int tile, int step,
                       int downscale);

// predictByTiles's result (RGB bytes in, inputScale and outputScale, no arg-max).
std::vector<uint8_t> referenceBytes(DirectRuntime& model, const ModelFacts& facts, const std::vector<uint8_t>& rgb,
                                    int width, int height, int tile, int step, int downscale, float inputScale,
                                    float outputScale, int* resultWidth, int* resultHeight, int* resultChannels);
