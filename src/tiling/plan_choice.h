// Choosing how to run a model over a picture, from what the model needs
// (measured once) and the picture's sizes: tiles whose margins cover the
// model's reach, of the side that costs least per useful pixel, blended
// where the margins cannot cover it; or the whole picture at once, resized
// to what the model takes, for a model that reads the picture as a whole.
#pragma once

#include <cstdint>
#include <string>

#include "diagnostics/expected.h"
#include "tiling/model_probe.h"

enum class Strategy { Tiles, WholePicture };

struct PlanWishes {
    int32_t width = 0, height = 0, channels = 0;
    int32_t tileSize = 0;   // 0: chosen
    int32_t step = 0;       // 0: chosen
    int32_t downscale = 0;  // 0: 1
    enum class Choice { Auto, Tiles, Whole } strategy = Choice::Auto;
    enum class Blend { Auto, Off, On } blend = Blend::Auto;
    uint64_t memoryBudget = 0;  // bytes; 0: none
};

struct ChosenPlan {
    Strategy strategy = Strategy::Tiles;
    int32_t width = 0, height = 0, channels = 0;
    // Tiles.
    int32_t tileSize = 0, step = 0, downscale = 1, margin = 0;
    int32_t across = 0, down = 0;
    bool blend = false;
    // The whole picture: the sizes it is run at.
    int32_t runWidth = 0, runHeight = 0;
    int64_t runs = 0;
    int32_t scale = 1, outputChannels = 0;
    uint64_t peakBytes = 0;  // the library's own memory at the run's busiest
    double seconds = 0;      // the model's time, as measured runs foretell it
    std::string reason;      // why, in a sentence
};

// The fields that wishes, plans and the host's records share by name: the
// picture and tile fields (all of them), the grid fields (plans and records).
#define VELMORA_PICTURE_FIELDS(X) X(width) X(height) X(channels) X(tileSize) X(step) X(downscale)
#define VELMORA_GRID_FIELDS(X) X(margin) X(across) X(down) X(runs) X(scale) X(runWidth) X(runHeight)
#define VELMORA_COPY_FIELD(name) to.name = from.name;

template <typename To, typename From>
void copyPictureFields(To& to, const From& from) {
    VELMORA_PICTURE_FIELDS(VELMORA_COPY_FIELD)
}

template <typename To, typename From>
void copyGridFields(To& to, const From& from) {
    VELMORA_GRID_FIELDS(VELMORA_COPY_FIELD)
}

#undef VELMORA_COPY_FIELD
#undef VELMORA_GRID_FIELDS
#undef VELMORA_PICTURE_FIELDS

// The memory a run holds at its busiest, besides the host's picture: the
// result, the model's input and output for one run, and the runtime's
// working memory for it.
uint64_t runMemory(int64_t runWidth, int64_t runHeight, int32_t channels, int32_t scale, int32_t outputChannels,
                   int64_t resultWidth, int64_t resultHeight);

// The plan, or what in the wishes does not fit the model, in words that
// name the fix ("the model takes tiles that are multiples of 32; 250 is not;
// try 256").
Expected<ChosenPlan> choosePlan(const ModelNeeds& needs, const PlanWishes& wishes);
