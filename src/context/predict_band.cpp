// A plan of tiles run one band of rows at a time (velmoraPredictBand): the
// band's tiles on the whole picture's grid, cut from the rows the host hands
// over and stitched into the band's result rows.
#include <cstdlib>
#include <string>

#include "context/VelmoraClass.h"
#include "context/float_tile_adapter.h"
#include "tiling/bands.h"

namespace {
constexpr const char* kWho = "velmoraPredictBand";
}  // namespace

Expected<BandLayout> VelmoraClass::band(const ChosenPlan& plan, int32_t tileRows, int32_t index, const char* who) {
    auto refuse = [&](const std::string& why) -> Expected<BandLayout> {
        report(who, why);
        return failure(why);
    };
    if (plan.strategy != Strategy::Tiles) return refuse("bands run plans of tiles; this plan runs the whole picture");
    if (std::llabs(plan.downscale) != 1) return refuse("bands run plans without a downscale");
    const Expected<TileGrid> grid =
        planTiles({plan.width, plan.height, plan.tileSize, plan.step, plan.step, plan.channels});
    if (!grid) return refuse(grid.message());
    const Expected<BandLayout> layout = bandLayout(*grid, plan.height, plan.tileSize, plan.blend,
                                                   tileRows ? tileRows : defaultBandTileRows(*grid), index);
    if (!layout) return refuse(layout.message());
    return layout;
}

ImageFloat VelmoraClass::predictBand(const ImageFloat& rows, const ChosenPlan& plan, int32_t tileRows, int32_t index,
                                     ProgressCallback callback, void* userData) {
    const ImageFloat empty{0, 0, 0, nullptr};
    auto fail = [&](const std::string& why) {
        if (!why.empty()) report(kWho, why);
        outputFloatFull.reset();
        return empty;
    };
    if (!modelLogic) return empty;
    const Expected<BandLayout> b = band(plan, tileRows, index, kWho);
    if (!b) return empty;
    if (!rows.data || rows.width != plan.width || rows.numChannels != plan.channels || rows.height != b->inputRows)
        return fail("band " + std::to_string(index) + " is cut from " + std::to_string(plan.width) + " x " +
                    std::to_string(b->inputRows) + " x " + std::to_string(plan.channels) + " rows (picture rows " +
                    std::to_string(b->inputFirstRow) + " on); these are " + std::to_string(rows.width) + " x " +
                    std::to_string(rows.height) + " x " + std::to_string(rows.numChannels));
    const TileGrid grid = *planTiles({plan.width, plan.height, plan.tileSize, plan.step, plan.step, plan.channels});
    Expected<ModelTiles> model = modelTiles(modelDescription(), plan.tileSize, plan.channels);
    if (!model) return fail("the model " + model.message());
    ModelTiles tiles = *model;

    const uint64_t releasesAtStart = resultReleases;
    const ValueTransform in = profileInput(plan.channels), out = profileOutput(plan.outputChannels);
    const std::function<void(const Tile&)> noLog = [](const Tile&) {};
    FloatPipelineTiles adapter(rows, grid, outputFloatFull, pasteThreads, noLog, in, out, plan.blend,
                               "not enough memory for the band's result",
                               TileBand{RowWindow{b->inputFirstRow, plan.height}, b->resultFirstRow, b->resultRows});
    Progress progress{callback, userData, *this};
    TileWalk walk(grid, progress.forWalk(), &progress);
    walk.restrict(b->runFirstRow, b->runEndRow, b->firstTileRow, b->endTileRow);
    const Expected<TileRunStats> run = runTileEngine(*modelLogic, tiles, walk, adapter);
    if (!run) {
        switch (run.kind()) {
            case kChannelsChanged: return fail("the model changed its channel count between tiles");
            case kNoTileRoom: return fail("not enough memory for a tile");
            case FloatPipelineTiles::kRefusal:
            case FloatPipelineTiles::kNoRoom:
            case kAdapterFailure: return fail(run.message());
            default: return fail("the model " + run.message());
        }
    }
    lastTileStats = *run;
    if (walk.stopped() || deleted) return fail("");
    if (resultReleases != releasesAtStart) return fail("the result was released (deallocateImage) during the run");
    if (b->index + 1 == b->count) walk.finish();
    if (deleted) return fail("");
    learnResult(tiles.scale, outputFloatFull.view().numChannels);
    return outputFloatFull.view();
}
