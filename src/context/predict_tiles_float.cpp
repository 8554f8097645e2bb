// The main pipeline: a float image of any size, shrunk on request, run tile by
// tile, stitched from the central square of each tile, enlarged back and
// optionally given back the detail that shrinking removed.
#include <algorithm>
#include <atomic>
#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "context/VelmoraClass.h"
#include "context/fresh_buffer.h"
#include "context/tile_grid.h"
#include "diagnostics/log_file.h"
#include "diagnostics/settings_store.h"
#include "image/utils_image_cropping.h"
#include "image/utils_image_resize_float.h"

namespace {

constexpr const char* kNoRamText =
    "Not enough RAM to process the image. Please try to downscale the image or add more RAM\n";
constexpr const char* kNoRamLog =
    "Not enough RAM to process the image. Please try to downscale the image or add more ram";
constexpr const char* kInferenceRamText = "Not enough RAM during AI inference";

// Tiled float predictions running in the process, and the guard that admits
// one and gives the count back on every way out, exceptions included.
std::atomic<int32_t> predictionsInFlight{0};
class InFlight {
public:
    InFlight() {
        if (predictionsInFlight.fetch_add(1) + 1 > 1) {
            predictionsInFlight.fetch_sub(1);
            throw VelmoraException();
        }
    }
    ~InFlight() { predictionsInFlight.fetch_sub(1); }
    InFlight(const InFlight&) = delete;
    InFlight& operator=(const InFlight&) = delete;
};

// The working images of one call.
struct TileWork {
    ImageBuffer<ImageFloat> shrunk;
    ImageBuffer<ImageFloat> tileBuffer;
    ImageBuffer<ImageFloat> stitched;  // image_downscaled_processed
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
    InFlight guard;
    const ImageFloat result = runTiles(original_image, tileSize, step, downscale, callback, userData);
    if (!errorText.empty() || !result.data) return ImageFloat{0, 0, 0, nullptr};
    return result;
}

ImageFloat VelmoraClass::runTiles(const ImageFloat& original_image, int32_t tileSize, int32_t step, int32_t downscale,
                                  ProgressCallback callback, void* userData) {
    const ImageFloat empty{0, 0, 0, nullptr};
    // Every way out but success: the message for the host, the line for the
    // log (none when empty), and no result.
    auto fail = [&](const std::string& text, const std::string& line) {
        errorText += text;
        if (!line.empty()) log(line);
        outputFloatFull.reset();
        lastTiledResult = {};
        return empty;
    };
    auto refuse = [&](const std::string& why) {
        const std::string text = "predictByTilesImageFloat: " + why;
        return fail(text + "\n", text);
    };
    if (!modelLogic) return fail("", "");
    const Expected<TileGrid> grid = checkArguments(original_image, tileSize, step, downscale);
    if (!grid) return refuse(grid.message());

    TileWork work;
    bool inModel = false;
    try {
        const int32_t K = std::abs(downscale);
        const int32_t C = original_image.numChannels;
        // What the model's shapes say of its tiles and results, before
        // anything is allocated.
        const Expected<TilePlan> plan = modelLogic->describeTiles(tileSize, C);
        if (!plan) return refuse("the model " + plan.message());
        int32_t scale = plan->scale;
        if (scale > 0) {
            const Expected<ImageFloat> sizes =
                scaledSizes(original_image.width, original_image.height, scale, std::max(plan->outputChannels, 1));
            if (!sizes) return refuse(sizes.message());
        }

        ImageFloat workingImage = original_image;
        if (K >= 2) {
            if (!work.shrunk.resize(original_image.width / K, original_image.height / K, C))
                return fail(kNoRamText, kNoRamLog);
            workingImage = work.shrunk.view();
            preferLargePages(workingImage);
            downsampleBoxClamped(original_image, workingImage, K);
        }
        if (!work.tileBuffer.resize(tileSize, tileSize, C)) return fail(kNoRamText, kNoRamLog);
        // Unshrunk, the stitched image is the result: the tiles go straight
        // into it, with no second full-size image and no copy.
        ImageBuffer<ImageFloat>& stitched = K == 1 ? outputFloatFull : work.stitched;

        Progress progress{callback, userData, *this};
        TileWalk walk(*grid, progress.forWalk(), &progress);
        bool firstTile = true;
        while (walk.next()) {
            const Tile& t = walk.tile();
            cropPatch(workingImage, work.tileBuffer.view(), t.left, t.top);
            if (loggingEnabled) log("*** Processing tile " + std::to_string(t.column) + "x" + std::to_string(t.row));
            inModel = true;
            const Expected<ImageFloat> R = runModelOnTile(*modelLogic, work.tileBuffer.view(), scale);
            inModel = false;
            if (!R) {
                const std::string text = "Model " + R.message();
                return fail("\n" + text + "\n", "PredictByTilesImageFloat " + text);
            }
            if (firstTile) {
                const Expected<ImageFloat> sizes =
                    scaledSizes(workingImage.width, workingImage.height, scale, R->numChannels);
                if (!sizes) return refuse(sizes.message());
                // A result kept from an earlier call is reused when its sizes match.
                if (!stitched.resize(sizes->width, sizes->height, R->numChannels)) return fail(kInferenceRamText, "");
                preferLargePages(stitched.view());
                firstTile = false;
            } else if (R->numChannels != stitched.view().numChannels) {
                const std::string text = "Model changed its channel count between tiles";
                return fail("\n" + text + "\n", "PredictByTilesImageFloat " + text);
            }
            // Each tile gives its central square, all of it S times larger
            // when the model enlarges. Origins past the stitched image give
            // nothing.
            const int64_t x = int64_t{t.originX} * scale, y = int64_t{t.originY} * scale;
            if (x < stitched.view().width && y < stitched.view().height)
                pastePatch(stitched.view(), *R, static_cast<int32_t>(x), static_cast<int32_t>(y), grid->margin * scale,
                           grid->margin * scale, step * scale, step * scale, pasteThreads);
        }
        if (walk.stopped()) return fail("", "");
        work.tileBuffer.reset();

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
        // Saturates rather than overflowing after 2^31 - 1 runs.
        if (tiledRunCount < std::numeric_limits<int32_t>::max()) ++tiledRunCount;
        writeRegistryStrings(settingsFolder, {{"tilessplit", std::to_string(tiledRunCount)}, {"Device", kEngineName}});
        work.shrunk.reset();
        if (loggingEnabled) {
            char first[64];
            std::snprintf(first, sizeof first, "%f", static_cast<double>(output.data[0]));
            log(std::string("PredictByTilesImageFloat Done, returning ") + first);
        }
        lastTiledResult = TiledResultSizes{output.width, output.height, output.numChannels, scale};
        return output;
    } catch (const std::exception& e) {
        const char* what = e.what() ? e.what() : "Unknown exception";
        if (inModel)
            return fail(std::string("Exception in runModel ") + what, "PredictByTilesImageFloat exception! Quitting");
        const std::string text = std::string("Exception in predictByTilesImageFloat: ") + what;
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
