// The main pipeline: a float image of any size, shrunk on request, run tile by
// tile, stitched from the central square of each tile, enlarged back and
// optionally given back the detail that shrinking removed.
#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "context/VelmoraClass.h"
#include "context/fresh_buffer.h"
#include "context/tile_grid.h"
#include "context/unit_scale_copy.h"
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

// Gives the single-caller count back on every way out, exceptions included.
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

// The working records of one call, released on every way out.
struct TileWork {
    SharedImageFloat shrunk;
    ImageFloat tileBuffer{0, 0, 0, nullptr};
    ImageFloat stitched{0, 0, 0, nullptr};  // image_downscaled_processed
    ~TileWork() {
        releaseImage(tileBuffer);
        releaseImage(stitched);
    }
};

struct Failure {
    std::string text;  // appended to errorText
    std::string line;  // logged
};

// What is wrong with the call's arguments, or an empty text.
std::string checkArguments(const ImageFloat& image, int32_t tileSize, int32_t step, int32_t downscale,
                           TileGrid& grid) {
    if (!image.data) return "the image has no data";
    if (image.width <= 0 || image.height <= 0 || image.numChannels <= 0)
        return "the image must have a width, a height and channels of 1 or more";
    if (tileSize < 1 || step < 1) return "the tile size and the step must be 1 or more";
    if (downscale == 0) return "the downscale factor must not be 0";
    if (downscale == std::numeric_limits<int32_t>::min()) return "the downscale factor is too large";
    const int64_t k = std::llabs(downscale);
    if (k >= 2 && (image.width < k || image.height < k))
        return "the image is smaller than the downscale factor";
    if (imageBufferElements(image.width, image.height, image.numChannels) < 0 ||
        imageBufferElements(tileSize, tileSize, image.numChannels) < 0)
        return "the image or tile is too large to address";
    return planTiles(image.width, image.height, tileSize, step, k * step, grid);
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

ImageFloat VelmoraClass::runTiles(const ImageFloat& original_image, int32_t tileSize, int32_t step,
                                  int32_t downscale, ProgressCallback callback, void* userData) {
    const ImageFloat empty{0, 0, 0, nullptr};
    auto fail = [&](const Failure& failure) {
        errorText += failure.text;
        if (!failure.line.empty()) log(failure.line);
        releaseImage(outputFloatFull);
        return empty;
    };
    if (!modelLogic) {
        releaseImage(outputFloatFull);
        return empty;
    }
    TileGrid grid;
    const std::string invalid = checkArguments(original_image, tileSize, step, downscale, grid);
    if (!invalid.empty()) {
        const std::string text = "predictByTilesImageFloat: " + invalid;
        return fail({text + "\n", text});
    }

    TileWork work;
    bool inModel = false;
    try {
        const int32_t K = std::abs(downscale);
        const int32_t m = grid.margin;
        const int32_t C = original_image.numChannels;
        ImageFloat workingImage = original_image;
        if (K >= 2) {
            if (!ensureImage(work.shrunk, original_image.width / K, original_image.height / K, C))
                return fail({kNoRamText, kNoRamLog});
            workingImage = work.shrunk.view();
            preferLargePages(workingImage);
            downsampleBoxClamped(original_image, workingImage, K);
        }

        int32_t done = 0;
        for (int32_t ty = 0; ty < grid.down; ++ty) {
            for (int32_t tx = 0; tx < grid.across; ++tx) {
                if (!work.tileBuffer.data) {
                    work.tileBuffer.data = allocateFloats(imageBufferElements(tileSize, tileSize, C));
                    if (!work.tileBuffer.data) return fail({kNoRamText, kNoRamLog});
                    work.tileBuffer.width = tileSize;
                    work.tileBuffer.height = tileSize;
                    work.tileBuffer.numChannels = C;
                }
                if (callback) {
                    if (callback(userData, tileProgress(done, grid.count))) {
                        releaseImage(outputFloatFull);
                        return empty;
                    }
                    ++done;
                }
                cropPatch(workingImage, work.tileBuffer, tx * step - m, ty * step - m);
                modelLogic->preparePrediction();
                if (loggingEnabled) log("*** Processing tile " + std::to_string(tx) + "x" + std::to_string(ty));

                inModel = true;
                const ImageFloat R = modelLogic->runModel(work.tileBuffer.data, tileSize, tileSize, C);
                inModel = false;
                if (R.numChannels == 0 || !R.data)
                    return fail({"\nModel returned 0 channels\n", "PredictByTilesImageFloat Model returned 0 channels"});
                // The paste reads the result with the tile's side.
                if (R.width != tileSize || R.height != tileSize) {
                    const std::string text = "Model returned a " + std::to_string(R.width) + " x " +
                                             std::to_string(R.height) + " result for a " + std::to_string(tileSize) +
                                             " x " + std::to_string(tileSize) + " tile";
                    return fail({"\n" + text + "\n", "PredictByTilesImageFloat " + text});
                }
                if (!work.stitched.data) {
                    if (!ensureImage(work.stitched, workingImage.width, workingImage.height, R.numChannels))
                        return fail({kInferenceRamText, ""});
                    preferLargePages(work.stitched);
                }
                if (R.numChannels != work.stitched.numChannels) {
                    const std::string text = "Model changed its channel count between tiles";
                    return fail({"\n" + text + "\n", "PredictByTilesImageFloat " + text});
                }
                pastePatch(work.stitched, R, tx * step, ty * step, m, m, step, step);
            }
        }
        releaseImage(work.tileBuffer);

        if (!ensureImage(outputFloatFull, original_image.width, original_image.height, work.stitched.numChannels))
            return fail({kInferenceRamText, ""});
        preferLargePages(outputFloatFull);
        assert(outputFloatFull.width == original_image.width && outputFloatFull.height == original_image.height && outputFloatFull.numChannels == work.stitched.numChannels);
        const float inverseK = 1.0f / static_cast<float>(K);
        // Unshrunk, the enlargement is a copy: the direct form gives the same bits
        // several times faster.
        if (K != 1 || !copyAtUnitScale(work.stitched, outputFloatFull))
            resizeBilinear(work.stitched, outputFloatFull, inverseK, inverseK);
        releaseImage(work.stitched);
        if (downscale < -1) transferDetail(outputFloatFull, outputFloatFull, original_image, workingImage, K);

        if (callback) callback(userData, 100.0f);
        // Saturates rather than overflowing after 2^31 - 1 runs.
        if (tiledRunCount < std::numeric_limits<int32_t>::max()) ++tiledRunCount;
        writeRegistryString(settingsFolder, "tilessplit", std::to_string(tiledRunCount));
        writeRegistryString(settingsFolder, "Device", "Velmora ONNX");
        releaseImage(work.shrunk);
        if (loggingEnabled) {
            char first[64];
            std::snprintf(first, sizeof first, "%f", static_cast<double>(outputFloatFull.data[0]));
            log(std::string("PredictByTilesImageFloat Done, returning ") + first);
        }
        return outputFloatFull;
    } catch (const std::exception& e) {
        const char* what = e.what() ? e.what() : "Unknown exception";
        if (inModel) return fail({std::string("Exception in runModel ") + what, "PredictByTilesImageFloat exception! Quitting"});
        const std::string text = std::string("Exception in predictByTilesImageFloat: ") + what;
        return fail({text, text});
    }
}

float* VelmoraClass::predictByTilesFloat(float* data, int32_t width, int32_t height, int32_t numChannels,
                                         int32_t tileSize, int32_t step, int32_t downscale, ProgressCallback callback,
                                         void* userData) {
    predictByTilesImageFloat(ImageFloat{width, height, numChannels, data}, tileSize, step, downscale, callback,
                             userData);
    return outputFloatFull.data;
}
