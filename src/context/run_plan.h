// What the library tells a host of the loaded model and of a run before it
// starts: the tiled runs' view of the model, and the plan for a picture.
// Worked out here once; hosts ask instead of reading model files.
#pragma once

#include <cstdint>
#include <string>

#include "backend/model_description.h"
#include "diagnostics/expected.h"

// What the tiled runs make of a model, from its shapes and, where they
// leave the result open, what its runs have shown (`learned*`, 0: nothing).
struct TiledFacts {
    bool tiled = false;
    std::string notTiled;        // why not, without a subject
    int32_t tileSize = 0;        // 0: any
    int32_t inputChannels = 0;   // 0: any
    int32_t outputChannels = 0;  // 0: not known
    int32_t scale = 0;           // 0: not known
};
TiledFacts tiledFacts(const ModelDescription& model, int32_t learnedScale, int32_t learnedChannels);

// The side the library chooses for a model that takes any, and the step
// for a tile (a margin of a sixteenth of the tile on either side).
inline constexpr int32_t kDefaultOpenTile = 256;
int32_t defaultStep(int32_t tile);

struct PlanRequest {
    int32_t width = 0, height = 0, channels = 0;
    int32_t tileSize = 0;   // 0: the model's, or the default for a model of any size
    int32_t step = 0;       // 0: the default for the tile
    int32_t downscale = 0;  // 0: 1
};

struct RunPlan {
    int32_t width = 0, height = 0, channels = 0;
    int32_t tileSize = 0, step = 0, downscale = 1;
    int32_t margin = 0;
    int32_t across = 0, down = 0;
    int64_t runs = 0;
    int32_t scale = 0;  // 0: known after a run
    int32_t resultWidth = 0, resultHeight = 0, resultChannels = 0;
};

// The plan of the tiled runs for the request, or what does not fit, in words
// without a subject ("the model takes 16 x 16 tiles, not 32 x 32").
Expected<RunPlan> planRun(const ModelDescription& model, const PlanRequest& request, int32_t learnedScale,
                          int32_t learnedChannels);
