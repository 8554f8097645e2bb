#include "context/run_plan.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

#include "tiling/model_tiles.h"
#include "tiling/tile_grid.h"
#include "tiling/tile_layout.h"

namespace {

// The input's fixed side and channels, 0 where open.
void fixedInput(const ModelDescription& model, int32_t& side, int32_t& channels) {
    side = channels = 0;
    DeclaredImage in;
    if (model.inputs.empty() || !readDeclaredImage(model.inputs[0].declared, model.inputLayout, in)) return;
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    if (in.width > 0 && in.width == in.height && in.width <= kMax) side = static_cast<int32_t>(in.width);
    if (in.channels > 0 && in.channels <= kMax) channels = static_cast<int32_t>(in.channels);
}

}  // namespace

int32_t defaultStep(int32_t tile) {
    if (tile < 4) return tile;
    return tile - 2 * std::max(1, tile / 16);
}

TiledFacts tiledFacts(const ModelDescription& model, int32_t learnedScale, int32_t learnedChannels) {
    TiledFacts facts;
    if (!model.known) {
        facts.notTiled = "no model is loaded";
        return facts;
    }
    fixedInput(model, facts.tileSize, facts.inputChannels);
    const Expected<ModelTiles> tiles = modelTiles(model, facts.tileSize ? facts.tileSize : kDefaultOpenTile,
                                                  facts.inputChannels ? facts.inputChannels : 3);
    if (!tiles) {
        facts.notTiled = "the model " + tiles.message();
        return facts;
    }
    facts.tiled = true;
    facts.scale = tiles->scale ? tiles->scale : learnedScale;
    facts.outputChannels = tiles->outputChannels ? tiles->outputChannels : learnedChannels;
    return facts;
}

Expected<ChosenPlan> planAsAsked(const ModelDescription& model, const PlanWishes& r, int32_t learnedScale,
                                 int32_t learnedChannels) {
    if (!model.known) return failure("no model is loaded");
    if (r.width <= 0 || r.height <= 0 || r.channels <= 0)
        return failure("the picture must have a width, a height and channels of 1 or more");
    if (r.downscale == std::numeric_limits<int32_t>::min()) return failure("the downscale factor is too large");
    int32_t fixedSide = 0, fixedChannels = 0;
    fixedInput(model, fixedSide, fixedChannels);
    ChosenPlan plan;
    plan.width = r.width;
    plan.height = r.height;
    plan.channels = r.channels;
    plan.tileSize = r.tileSize ? r.tileSize : fixedSide ? fixedSide : kDefaultOpenTile;
    plan.step = r.step ? r.step : defaultStep(plan.tileSize);
    plan.downscale = r.downscale ? r.downscale : 1;
    plan.blend = r.blend == PlanWishes::Blend::On;
    const int64_t k = std::llabs(plan.downscale);
    const Expected<ModelTiles> tiles = modelTiles(model, plan.tileSize, plan.channels);
    if (!tiles) return failure("the model " + tiles.message());
    const Expected<TileGrid> grid =
        planTiles({plan.width, plan.height, plan.tileSize, plan.step, k * plan.step, plan.channels});
    if (!grid) return failure(grid.message());
    plan.margin = grid->margin;
    plan.across = grid->across;
    plan.down = grid->down;
    plan.runs = grid->count;
    plan.scale = tiles->scale ? tiles->scale : learnedScale;
    plan.outputChannels = tiles->outputChannels ? tiles->outputChannels : learnedChannels;
    if (plan.scale > 0) {
        const Expected<ImageFloat> sizes =
            scaledSizes(plan.width, plan.height, plan.scale, std::max(plan.outputChannels, 1));
        if (!sizes) return failure(sizes.message());
    }
    plan.peakBytes =
        runMemory(plan.tileSize, plan.tileSize, plan.channels, std::max(plan.scale, 1), plan.outputChannels,
                  int64_t{plan.width} * std::max(plan.scale, 1), int64_t{plan.height} * std::max(plan.scale, 1));
    plan.reason = "tiles as asked";
    return plan;
}
