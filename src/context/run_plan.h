// What the library tells a host of the loaded model and of a run before it
// starts: the tiled runs' view of the model, and the plan for a picture.
// Worked out here once; hosts ask instead of reading model files.
#pragma once

#include <cstdint>
#include <string>

#include "backend/model_description.h"
#include "diagnostics/expected.h"
#include "tiling/plan_choice.h"

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

// The plan of tiles as a host asked for them (tile and step given), from
// the model's shapes alone, with no run of the model; or what does not fit,
// in words without a subject ("the model takes 16 x 16 tiles, not 32 x 32").
Expected<ChosenPlan> planAsAsked(const ModelDescription& model, const PlanWishes& wishes, int32_t learnedScale,
                                 int32_t learnedChannels);
