// A plan of tiles run one band of rows at a time (velmoraPredictBand): the
// band's tiles on the whole picture's grid, cut from the rows the host hands
// over and stitched into the band's result rows.
#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>

#include "context/VelmoraClass.h"
#include "context/float_tile_adapter.h"
#include "image/utils_image_cropping.h"
#include "image/utils_image_resize_float.h"
#include "tiling/bands.h"

namespace {
constexpr const char* kWho = "velmoraPredictBand";

// Plans whose tiles lie alike, so that one's band can follow on from the
// other's.
bool sameTiles(const ChosenPlan& a, const ChosenPlan& b) {
    return a.strategy == b.strategy && a.width == b.width && a.height == b.height && a.channels == b.channels &&
           a.tileSize == b.tileSize && a.step == b.step && a.downscale == b.downscale && a.blend == b.blend;
}
}  // namespace

Expected<BandLayout> VelmoraClass::band(const ChosenPlan& plan, int32_t tileRows, int32_t index, const char* who) {
    auto refuse = [&](const std::string& why) -> Expected<BandLayout> {
        report(who, why);
        return failure(why);
    };
    if (plan.strategy != Strategy::Tiles) return refuse("bands run plans of tiles; this plan runs the whole picture");
    if (plan.downscale < -1)
        return refuse("bands do not restore the detail shrinking removes (a negative downscale); give a positive one");
    const int32_t k = std::abs(plan.downscale);
    if (k >= 2 && (plan.width < k || plan.height < k))
        return refuse("the picture is smaller than the downscale factor");
    const Expected<TileGrid> grid =
        planTiles({plan.width, plan.height, plan.tileSize, plan.step, int64_t{k} * plan.step, plan.channels});
    if (!grid) return refuse(grid.message());
    const Expected<BandLayout> layout = bandLayout(*grid, plan.height, k, plan.tileSize, plan.blend,
                                                   tileRows ? tileRows : defaultBandTileRows(*grid), index);
    if (!layout) return refuse(layout.message());
    return layout;
}

ImageFloat VelmoraClass::predictBand(const ImageFloat& rows, const ChosenPlan& plan, int32_t tileRows, int32_t index,
                                     ProgressCallback callback, void* userData) {
    const ImageFloat empty{0, 0, 0, nullptr};
    // What the band before kept serves this band only, and only if nothing
    // failed or stopped in between.
    std::optional<BandCarry> carry = std::move(bandCarry);
    bandCarry.reset();
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
    const int32_t k = std::abs(plan.downscale);
    const TileGrid grid =
        *planTiles({plan.width, plan.height, plan.tileSize, plan.step, int64_t{k} * plan.step, plan.channels});
    Expected<ModelTiles> model = modelTiles(modelDescription(), plan.tileSize, plan.channels);
    if (!model) return fail("the model " + model.message());
    ModelTiles tiles = *model;
    const bool followsOn =
        carry && carry->nextIndex == index && carry->tileRows == tileRows && sameTiles(carry->plan, plan);
    if (followsOn && tiles.scale <= 0) tiles.scale = carry->scale;

    // Shrunk, the band's rows are box-averaged as the whole picture's are
    // (K picture rows to a shrunk row), and its result is stitched at that
    // scale, then enlarged.
    ImageBuffer<ImageFloat> shrunk, stitchedShrunk;
    ImageFloat working = rows;
    const int64_t workingHeight = k > 1 ? plan.height / k : plan.height;
    if (k > 1) {
        if (!shrunk.resize(plan.width / k, static_cast<int32_t>(b->workingRows), plan.channels))
            return fail("not enough memory for the band's shrunk rows");
        downsampleBoxClamped(rows, shrunk.view(), k);
        working = shrunk.view();
    }
    ImageBuffer<ImageFloat>& stitched = k > 1 ? stitchedShrunk : outputFloatFull;

    const uint64_t releasesAtStart = resultReleases;
    const ValueTransform in = profileInput(plan.channels), out = profileOutput(plan.outputChannels);
    const std::function<void(const Tile&)> noLog = [](const Tile&) {};
    TileBand where{RowWindow{b->workingFirstRow, workingHeight}, b->stitchedFirstRow, b->heldRows};
    if (followsOn) {
        where.carried = carry->rows.view();
        where.carriedFirstRow = carry->firstRow;
    }
    FloatPipelineTiles adapter(working, grid, stitched, pasteThreads, noLog, in, out, plan.blend,
                               "not enough memory for the band's result", where);
    Progress progress{callback, userData, *this};
    TileWalk walk(grid, progress.forWalk(), &progress);
    // Each tile row is counted once over the bands, by the band that runs
    // it first.
    const int32_t runFirst = followsOn ? b->followOnRow : b->runFirstRow;
    walk.restrict(runFirst, b->runEndRow, followsOn ? runFirst : b->firstTileRow, b->runEndRow);
    Expected<TileRunStats> run = runTileEngine(*modelLogic, tiles, walk, adapter);
    // A last band whose tiles the band before ran all of starts from what it kept.
    if (run && run->tiles == 0 && followsOn && !walk.stopped()) {
        if (const Status begun = adapter.begin(tiles.scale, carry->rows.view().numChannels); !begun)
            run = begun.error();
    }
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
    const int64_t scale = tiles.scale > 0 ? tiles.scale : 1;
    carry.reset();  // in the stitched rows by now; not held beside what this band keeps
    if (b->keptRows > 0) {
        if (!keepForNextBand(stitched.view(), plan, tileRows, index, static_cast<int32_t>(scale), *b))
            return fail("not enough memory for the rows kept for the next band");
    }
    if (k > 1) {
        // The band's own stitched rows; those kept below them are the next band's.
        ImageFloat s = stitchedShrunk.view();
        s.height = static_cast<int32_t>(b->stitchedRows * scale);
        const Expected<ImageFloat> sizes = scaledSizes(plan.width, b->resultRows, scale, s.numChannels);
        if (!sizes) return fail(sizes.message());
        if (!outputFloatFull.resize(sizes->width, sizes->height, s.numChannels))
            return fail("not enough memory for the band's result");
        const float inverseK = 1.0f / static_cast<float>(k);
        resizeBilinearRows(s, outputFloatFull.view(), inverseK, inverseK,
                           ResizeRows{b->stitchedFirstRow * scale, workingHeight * scale, b->resultFirstRow * scale});
    }
    if (b->index + 1 == b->count) walk.finish();
    if (deleted || resultReleases != releasesAtStart) return fail("");
    learnResult(tiles.scale, outputFloatFull.view().numChannels);
    ImageFloat result = outputFloatFull.view();
    result.height = static_cast<int32_t>(b->resultRows * scale);
    return result;
}

bool VelmoraClass::keepForNextBand(const ImageFloat& stitched, const ChosenPlan& plan, int32_t tileRows, int32_t index,
                                   int32_t scale, const BandLayout& b) {
    BandCarry kept;
    const int64_t at = (b.keptFirstRow - b.stitchedFirstRow) * scale;
    const int64_t rows = std::min<int64_t>(b.keptRows * scale, stitched.height - at);
    if (at < 0 || rows <= 0) return true;
    if (!kept.rows.resize(stitched.width, static_cast<int32_t>(rows), stitched.numChannels)) return false;
    cropPatch(stitched, kept.rows.view(), 0, static_cast<int32_t>(at));
    kept.plan = plan;
    kept.tileRows = tileRows;
    kept.nextIndex = index + 1;
    kept.scale = scale;
    kept.firstRow = b.keptFirstRow;
    bandCarry = std::move(kept);
    return true;
}
