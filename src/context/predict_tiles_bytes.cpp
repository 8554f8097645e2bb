// The tiled 8-bit pipeline: RGB bytes in, model per tile, bytes out (by
// arg-max over channels or by scaling), stitched from each tile's centre.
//
// With |downscale| K of 2 or more a tile of side tileSize x K is shrunk to the
// model's tileSize, and the model's output is enlarged by K again before it
// becomes bytes, for either sign of downscale, as the float pipeline shrinks
// and enlarges for either sign. A negative downscale also restores the detail
// that shrinking removed, as the float pipeline's detail transfer does: the
// enlarged output becomes output + tile - enlarged shrunk tile. Arg-max
// outputs are class scores, not pixel values, so they get no detail.
#include <algorithm>
#include <cstdlib>
#include <limits>

#include "context/VelmoraClass.h"
#include "context/tile_grid.h"
#include "image/utils_image_cropping.h"
#include "image/utils_image_operations.h"
#include "image/utils_image_resize_float.h"

namespace {

// Working buffers of one call, released on every way out.
struct ByteTileWork {
    ImageFloat tile{0, 0, 0, nullptr};      // side x side, model channels
    ImageFloat shrunk{0, 0, 0, nullptr};    // tileSize x tileSize (K >= 2)
    ImageFloat residual{0, 0, 0, nullptr};  // enlarged shrunk tile - tile (negative downscale)
    ImageFloat enlarged{0, 0, 0, nullptr};  // enlarged model output (K >= 2)
    ImageByte bytes;
    ~ByteTileWork() {
        releaseImage(tile);
        releaseImage(shrunk);
        releaseImage(residual);
        releaseImage(enlarged);
        releaseImage(bytes);
    }
};

bool allocate(ImageFloat& image, int32_t side, int32_t channels) { return ensureImage(image, side, side, channels); }

// Fills the tile from the RGB image with edge replication; channels past the
// third are zero.
void extractTile(const uint8_t* rgb, int32_t width, int32_t height, int32_t left, int32_t top, float inputScale,
                 ImageFloat& tile) {
    const int64_t channels = tile.numChannels;
    for (int32_t r = 0; r < tile.height; ++r) {
        const int64_t sy = std::clamp<int64_t>(static_cast<int64_t>(top) + r, 0, height - 1);
        float* out = tile.data + static_cast<int64_t>(r) * tile.width * channels;
        for (int32_t c = 0; c < tile.width; ++c, out += channels) {
            const int64_t sx = std::clamp<int64_t>(static_cast<int64_t>(left) + c, 0, width - 1);
            const uint8_t* px = rgb + (sy * width + sx) * 3;
            out[0] = byteToFloat(px[0], inputScale);
            out[1] = byteToFloat(px[1], inputScale);
            out[2] = byteToFloat(px[2], inputScale);
            for (int64_t ch = 3; ch < channels; ++ch) out[ch] = 0.0f;
        }
    }
}

}  // namespace

uint8_t* VelmoraClass::predictByTiles(const uint8_t* data, int32_t width, int32_t height, int32_t numChannels,
                                      int32_t tileSize, int32_t step, bool argmax, float inputScale,
                                      float outputScale, int32_t downscale, ProgressCallback callback,
                                      void* userData) {
    if (!modelLogic) return nullptr;
    auto refuse = [&](const std::string& why) -> uint8_t* {
        errorText += "Velmora error: predictByTiles: " + why + "\n";
        return nullptr;
    };
    if (!data) return refuse("the image has no data");
    if (width <= 0 || height <= 0) return refuse("the image must have a width and a height of 1 or more");
    if (numChannels < 3) return refuse("the model input needs at least the 3 channels of an RGB pixel");
    if (tileSize < 1 || step < 1) return refuse("the tile size and the step must be 1 or more");
    if (downscale == 0 || downscale == std::numeric_limits<int32_t>::min())
        return refuse("the downscale factor must be a non-zero 32-bit value");
    const int64_t K = std::llabs(downscale);
    TileGrid grid;
    const std::string invalid = planTiles(width, height, tileSize * K, step * K, step * K, grid);
    if (!invalid.empty()) return refuse(invalid);
    const int32_t side = static_cast<int32_t>(tileSize * K);
    const int32_t contribution = static_cast<int32_t>(step * K);
    // The result image's size is checked when it is allocated (ensureImage).
    if (imageBufferElements(side, side, numChannels) < 0) return refuse("the tile is too large to address");

    ByteTileWork work;
    try {
        int32_t done = 0;
        for (int32_t row = 0; row < grid.down; ++row) {
            for (int32_t col = 0; col < grid.across; ++col) {
                if (callback) {
                    if (callback(userData, tileProgress(done, grid.count))) return nullptr;
                    ++done;
                }
                if (!work.tile.data && !allocate(work.tile, side, numChannels)) return nullptr;
                const int32_t originX = col * contribution;
                const int32_t originY = row * contribution;
                extractTile(data, width, height, originX - grid.margin, originY - grid.margin, inputScale, work.tile);

                ImageFloat modelInput = work.tile;
                if (K >= 2) {
                    if (!work.shrunk.data && !allocate(work.shrunk, tileSize, numChannels)) {
                        errorText += "Velmora error - failed to allocate memory for rescaling";
                        return nullptr;
                    }
                    downsampleBox(work.tile, work.shrunk, static_cast<int32_t>(K));
                    modelInput = work.shrunk;
                }

                if (!modelLogic->isModelLoaded()) {
                    errorText += "Velmora error: model not loaded, can't predict";
                    return nullptr;
                }
                modelLogic->preparePrediction();
                ImageFloat output = modelLogic->runModel(modelInput.data, tileSize, tileSize, numChannels);
                if (output.numChannels == 0 || !output.data) return nullptr;
                if (output.width != tileSize || output.height != tileSize)
                    return refuse("the model returned a " + std::to_string(output.width) + " x " +
                                  std::to_string(output.height) + " result for a " + std::to_string(tileSize) +
                                  " x " + std::to_string(tileSize) + " tile");

                if (K >= 2) {
                    const float inverseK = 1.0f / static_cast<float>(K);
                    if (!allocate(work.enlarged, side, output.numChannels)) {
                        errorText += "Velmora error: failed to allocate RAM buffer for argmax";
                        return nullptr;
                    }
                    upsampleBilinearShifted(output, work.enlarged, inverseK, inverseK);
                    if (downscale < 0 && !argmax) {
                        if (!allocate(work.residual, side, numChannels)) {
                            errorText += "Velmora error - failed to allocate memory for rescaling";
                            return nullptr;
                        }
                        upsampleBilinearShifted(work.shrunk, work.residual, inverseK, inverseK);
                        addScaledImages(work.residual, work.tile, work.residual, -1.0f);
                        addScaledChannels(work.enlarged, work.residual, work.enlarged, -1.0f);
                    }
                    output = work.enlarged;
                }

                const int32_t byteChannels = argmax ? 1 : output.numChannels;
                releaseImage(work.bytes);
                if (!ensureImage(work.bytes, side, side, byteChannels)) {
                    errorText += argmax ? "Velmora error: failed to allocate RAM buffer for argmax"
                                        : "Velmora error: failed to allocate RAM buffer for bitdepth conversion";
                    return nullptr;
                }
                const int64_t values = static_cast<int64_t>(side) * side * output.numChannels;
                if (argmax)
                    argmaxChannels(output.data, work.bytes.data, static_cast<size_t>(values),
                                   static_cast<size_t>(output.numChannels));
                else
                    floatToByte(output.data, work.bytes.data, values, outputScale);

                if (!ensureImage(outputCharFull, width, height, byteChannels)) {
                    errorText += "Velmora error: failed to allocated RAM for outputCharFull";
                    return nullptr;
                }
                pastePatch(outputCharFull, work.bytes, originX, originY, grid.margin, grid.margin, contribution,
                           contribution);
            }
        }
    } catch (const std::exception& e) {
        errorText += std::string("Exception in processing tile: ") + e.what();
        return nullptr;
    } catch (...) {
        errorText += "Exception in processing tile: ...";
        return nullptr;
    }
    if (callback) callback(userData, 100.0f);
    return outputCharFull.data;
}
