// The main pipeline: a float image of any size, shrunk on request, run tile by
// tile, stitched from the central square of each tile, enlarged back and
// optionally given back the detail that shrinking removed.
#include <algorithm>
#include <atomic>
#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

#include "context/VelmoraClass.h"
#include "context/call_guard.h"
#include "context/float_tile_adapter.h"
#include "context/fresh_buffer.h"
#include "diagnostics/log_file.h"
#include "diagnostics/settings_store.h"
#include "image/utils_image_resize_float.h"
#include "tiling/blend_tiles.h"
#include "tiling/float_tiles.h"
#include "tiling/tile_engine.h"
#include "tiling/tile_grid.h"

namespace {

constexpr const char* kNoRamText =
    "Not enough RAM to process the image. Please try to downscale the image or add more RAM\n";
constexpr const char* kNoRamLog =
    "Not enough RAM to process the image. Please try to downscale the image or add more ram";
constexpr const char* kInferenceRamText = "Not enough RAM during AI inference";

// Tiled float predictions running in the process, and the guard that admits
// one and gives the count back on every way out, exceptions included. A
// count left by a call whose clean-up a host's exception skipped (the thread
// that took it is calling again, and not from inside that call) is taken
// back first, so that one stray exception does not refuse every later run.
std::atomic<int32_t> predictionsInFlight{0};
std::mutex inFlightOwnerMutex;
std::thread::id inFlightOwner;
class InFlight {
public:
    explicit InFlight(uintptr_t frame) {
        if (predictionsInFlight.fetch_add(1) + 1 > 1) {
            const std::lock_guard<std::mutex> lock(inFlightOwnerMutex);
            if (inFlightOwner == std::this_thread::get_id() && !insideCallout(frame)) {
                predictionsInFlight.store(1);
            } else {
                predictionsInFlight.fetch_sub(1);
                throw VelmoraException();
            }
        }
        const std::lock_guard<std::mutex> lock(inFlightOwnerMutex);
        inFlightOwner = std::this_thread::get_id();
    }
    ~InFlight() { predictionsInFlight.fetch_sub(1); }
    InFlight(const InFlight&) = delete;
    InFlight& operator=(const InFlight&) = delete;
};

// The grid, or what is wrong with the call's arguments.
Expected<TileGrid> checkArguments(const ImageFloat& image, int32_t tileSize, int32_t step, int32_t downscale) {
    if (!image.data) return failure("the image has no data");
    if (image.width <= 0 || image.height <= 0 || image.numChannels <= 0)
        return failure("the image must have a width, a height and channels of 1 or more");
    if (downscale == 0) return failure("the downscale factor must not be 0");
    if (downscale == std::numeric_limits<int32_t>::min()) return failure("the downscale factor is too large");
    const int64_t k = std::llabs(downscale);
    if (k >= 2 && (image.width < k || image.height < k))
        return failure("the image is smaller than the downscale factor");
    if (imageBufferElements(image.width, image.height, image.numChannels) < 0)
        return failure("the image is too large to address");
    // The grid is counted on the full-size image with K x step, not on the
    // shrunk one: the host sees the tile count of the area it asked for, the
    // same for either pipeline. Since the shrunk image is rounded down, the
    // last column or row may then lie wholly outside it: such tiles run on
    // replicated edges and their contribution is clipped away.
    return planTiles({image.width, image.height, tileSize, step, k * step, image.numChannels});
}

// The detail that shrinking by K removed (the image less its shrunk copy
// enlarged back), enlarged by the model's scale and added to the result.
// False when its working image cannot be had.
bool addLostDetail(const ImageFloat& image, const ImageFloat& shrunk, int32_t K, int32_t scale,
                   const ImageFloat& result) {
    ImageBuffer<ImageFloat> detail;
    const int32_t channels = std::min(image.numChannels, result.numChannels);
    if (!detail.resize(image.width, image.height, channels)) return false;
    const ImageFloat d = detail.view();
    std::fill_n(d.data, elementCount(d), 0.0f);
    transferDetail(d, d, image, shrunk, K);
    const float inverseScale = 1.0f / static_cast<float>(scale);
    addBilinear(d, result, inverseScale, inverseScale);
    return true;
}

}  // namespace

void VelmoraClass::log(const std::string& message) const {
    if (loggingEnabled) appendLogLine(logFileName, message);
}

ImageFloat VelmoraClass::predictByTilesImageFloat(ImageFloat original_image, int32_t tileSize, int32_t step,
                                                  int32_t downscale, ProgressCallback callback, void* userData) {
    log("*predictByTilesImageFloat start");
    InFlight guard(VELMORA_THIS_FRAME);
    const ImageFloat result = runTiles(original_image, tileSize, step, downscale, callback, userData);
    if (!errorText.empty() || !result.data) return ImageFloat{0, 0, 0, nullptr};
    return result;
}

ImageFloat VelmoraClass::runTiles(const ImageFloat& original_image, int32_t tileSize, int32_t step, int32_t downscale,
                                  ProgressCallback callback, void* userData, const TiledRunOptions& options) {
    const ImageFloat empty{0, 0, 0, nullptr};
    // Every way out but success: the message for the host, the line for the
    // log (none when empty), and no result.
    auto fail = [&](const std::string& text, const std::string& line) {
        errorText += text;
        if (!line.empty() && options.bookkeeping) log(line);
        outputFloatFull.reset();
        lastTiledResult = {};
        return empty;
    };
    auto refuse = [&](const std::string& why) {
        const std::string text = std::string(options.who) + ": " + why;
        return fail(text + "\n", text);
    };
    if (!modelLogic) return fail("", "");
    const Expected<TileGrid> grid = checkArguments(original_image, tileSize, step, downscale);
    if (!grid) return refuse(grid.message());

    ImageBuffer<ImageFloat> shrunk;
    ImageBuffer<ImageFloat> stitchedAtWorkingScale;  // image_downscaled_processed
    const uint64_t releasesAtStart = resultReleases;
    try {
        const int32_t K = std::abs(downscale);
        const int32_t C = original_image.numChannels;
        // What the model's shapes say of its tiles and results, before
        // anything is allocated.
        Expected<ModelTiles> model = modelTiles(modelLogic->description(), tileSize, C);
        if (!model) return refuse("the model " + model.message());
        ModelTiles tiles = *model;
        if (tiles.scale > 0) {
            const Expected<ImageFloat> sizes = scaledSizes(original_image.width, original_image.height, tiles.scale,
                                                           std::max(tiles.outputChannels, 1));
            if (!sizes) return refuse(sizes.message());
        }

        ImageFloat workingImage = original_image;
        if (K >= 2) {
            // Whole-image shrinking: the image is box-averaged once before it
            // is cut, so every tile sees the shrunk pixels its neighbours see
            // (the 8-bit pipeline shrinks each tile on its own instead).
            if (!shrunk.resize(original_image.width / K, original_image.height / K, C))
                return fail(kNoRamText, kNoRamLog);
            workingImage = shrunk.view();
            preferLargePages(workingImage);
            downsampleBoxClamped(original_image, workingImage, K);
        }
        // Unshrunk, the stitched image is the result: the tiles go straight
        // into it, with no second full-size image and no copy.
        ImageBuffer<ImageFloat>& stitched = K == 1 ? outputFloatFull : stitchedAtWorkingScale;

        const std::function<void(const Tile&)> logTile = [&](const Tile& t) {
            if (loggingEnabled && options.bookkeeping)
                log("*** Processing tile " + std::to_string(t.column) + "x" + std::to_string(t.row));
        };
        FloatPipelineTiles adapter(workingImage, *grid, stitched, pasteThreads, logTile, options.input, options.output,
                                   options.blend, kInferenceRamText);
        Progress progress{callback, userData, *this};
        TileWalk walk(*grid, progress.forWalk(), &progress);
        const Expected<TileRunStats> run = runTileEngine(*modelLogic, tiles, walk, adapter);
        if (!run) {
            switch (run.kind()) {
                case kModelException:
                    return fail("Exception in runModel " + run.message(),
                                "PredictByTilesImageFloat exception! Quitting");
                case kAdapterException: {
                    const std::string text = "Exception in predictByTilesImageFloat: " + run.message();
                    return fail(text, text);
                }
                case kNoTileRoom: return fail(kNoRamText, kNoRamLog);
                case FloatPipelineTiles::kRefusal: return refuse(run.message());
                case FloatPipelineTiles::kNoRoom: return fail(run.message(), "");
                case kChannelsChanged: {
                    const std::string text = "Model changed its channel count between tiles";
                    return fail("\n" + text + "\n", "PredictByTilesImageFloat " + text);
                }
                default: {
                    const std::string text = "Model " + run.message();
                    return fail("\n" + text + "\n", "PredictByTilesImageFloat " + text);
                }
            }
        }
        lastTileStats = *run;
        if (walk.stopped()) return fail("", "");
        // The host may release the result from its callback: the run ends
        // with words rather than hand back (or read) a freed buffer.
        const std::string released = "the result was released (deallocateImage) during the run";
        if (resultReleases != releasesAtStart) return refuse(released);
        const int32_t scale = tiles.scale;

        if (K >= 2) {
            const Expected<ImageFloat> sizes =
                scaledSizes(original_image.width, original_image.height, scale, stitched.view().numChannels);
            if (!sizes) return refuse(sizes.message());
            if (!outputFloatFull.resize(sizes->width, sizes->height, sizes->numChannels))
                return fail(kInferenceRamText, "");
            preferLargePages(outputFloatFull.view());
            const float inverseK = 1.0f / static_cast<float>(K);
            resizeBilinear(stitched.view(), outputFloatFull.view(), inverseK, inverseK);
            stitched.reset();
        }
        const ImageFloat output = outputFloatFull.view();
        assert(output.width == original_image.width * scale && output.height == original_image.height * scale);
        if (downscale < -1) {
            if (scale == 1) {
                transferDetail(output, output, original_image, workingImage, K);
            } else if (!addLostDetail(original_image, workingImage, K, scale, output)) {
                return fail(kInferenceRamText, "");
            }
        }

        walk.finish();
        // Deleted by the host at the end: no result, and nothing counted.
        if (deleted) return fail("", "");
        if (resultReleases != releasesAtStart) return refuse(released);
        if (options.bookkeeping) {
            // Saturates rather than overflowing after 2^31 - 1 runs.
            if (tiledRunCount < std::numeric_limits<int32_t>::max()) ++tiledRunCount;
            writeRegistryStrings(settingsFolder,
                                 {{"tilessplit", std::to_string(tiledRunCount)}, {"Device", kEngineName}});
        }
        shrunk.reset();
        if (loggingEnabled && options.bookkeeping) {
            char first[64];
            std::snprintf(first, sizeof first, "%f", static_cast<double>(output.data[0]));
            log(std::string("PredictByTilesImageFloat Done, returning ") + first);
        }
        lastTiledResult = TiledResultSizes{output.width, output.height, output.numChannels, scale};
        learnResult(scale, output.numChannels);
        return output;
    } catch (const std::exception& e) {
        const std::string text = std::string("Exception in predictByTilesImageFloat: ") + e.what();
        return fail(text, text);
    }
}

float* VelmoraClass::predictByTilesFloat(float* data, int32_t width, int32_t height, int32_t numChannels,
                                         int32_t tileSize, int32_t step, int32_t downscale, ProgressCallback callback,
                                         void* userData) {
    predictByTilesImageFloat(ImageFloat{width, height, numChannels, data}, tileSize, step, downscale, callback,
                             userData);
    // A context the host deleted meanwhile is about to go: nothing of it is handed out.
    return deleted ? nullptr : outputFloatFull.view().data;
}
