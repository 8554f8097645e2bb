// The tiled 8-bit pipeline: RGB bytes in, model per tile, bytes out (by
// arg-max over channels or by scaling), stitched from each tile's centre.
//
// With |downscale| K of 2 or more a tile of side tileSize x K is shrunk to the
// model's tileSize, and the model's output is enlarged by K again before it
// becomes bytes, for either sign of downscale, as the float pipeline shrinks
// and enlarges for either sign. A negative downscale also restores the detail
// that shrinking removed, as the float pipeline's detail transfer does: the
// enlarged output becomes output + tile - enlarged shrunk tile (that
// difference enlarged too when the model's result is S times its tile).
// Arg-max outputs are class scores, not pixel values, so they get no detail.
//
// A model whose result is S times its tile gives a result S times the image:
// each tile's central square, S times larger, at S times its position.
#include <algorithm>
#include <cstdlib>
#include <limits>

#include "context/VelmoraClass.h"
#include "context/tile_grid.h"
#include "image/utils_image_cropping.h"
#include "image/utils_image_operations.h"
#include "image/utils_image_resize_float.h"

namespace {

// The working images of one call.
struct ByteTileWork {
    ImageBuffer<ImageFloat> tile;      // side x side, model channels
    ImageBuffer<ImageFloat> shrunk;    // tileSize x tileSize (K >= 2)
    ImageBuffer<ImageFloat> residual;  // enlarged shrunk tile - tile (negative downscale)
    ImageBuffer<ImageFloat> enlarged;  // enlarged model output (K >= 2)
    ImageBuffer<ImageByte> bytes;
};

std::string refusal(const std::string& why) { return "Velmora error: predictByTiles: " + why + "\n"; }

// The grid, or what is wrong with the call's arguments.
Expected<TileGrid> checkArguments(const uint8_t* data, int32_t width, int32_t height, int32_t numChannels,
                                  int32_t tileSize, int32_t step, int32_t downscale) {
    if (!data) return failure("the image has no data");
    if (width <= 0 || height <= 0) return failure("the image must have a width and a height of 1 or more");
    if (numChannels < 3) return failure("the model input needs at least the 3 channels of an RGB pixel");
    if (downscale == 0 || downscale == std::numeric_limits<int32_t>::min())
        return failure("the downscale factor must be a non-zero 32-bit value");
    // Tiles are cut at full size, K times the model's side, and shrunk for it.
    const int64_t K = std::llabs(downscale);
    Expected<TileGrid> grid = planTiles({width, height, tileSize * K, step * K, step * K, numChannels});
    // Tiles of K times the model's side from an image narrower than K would
    // be almost all replicated edge.
    if (grid && K >= 2 && (width < K || height < K)) return failure("the image is smaller than the downscale factor");
    return grid;
}

// Fills the tile from the RGB image with edge replication; channels past the
// third are zero.
void extractTile(const uint8_t* rgb, int32_t width, int32_t height, int32_t left, int32_t top, float inputScale,
                 const ImageFloat& tile) {
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
                                      int32_t tileSize, int32_t step, bool argmax, float inputScale, float outputScale,
                                      int32_t downscale, ProgressCallback callback, void* userData) {
    if (!modelLogic) return nullptr;
    // Every failure: its message, as it stands, and no result.
    auto fail = [&](const std::string& text) -> uint8_t* {
        errorText += text;
        lastTiledResult = {};
        return nullptr;
    };
    const Expected<TileGrid> grid = checkArguments(data, width, height, numChannels, tileSize, step, downscale);
    if (!grid) return fail(refusal(grid.message()));
    const int32_t K = std::abs(downscale);
    const int32_t side = tileSize * K;

    ByteTileWork work;
    Progress progress{callback, userData, *this};
    TileWalk walk(*grid, progress.forWalk(), &progress);
    int32_t modelChannels = 0;  // of the first tile's result, which every tile must keep
    try {
        // What the model's shapes say of its tiles and results, before
        // anything is allocated.
        const Expected<TilePlan> plan = modelLogic->describeTiles(tileSize, numChannels);
        if (!plan) return fail(refusal("the model " + plan.message()));
        int32_t scale = plan->scale;
        auto resultSizes = [&](int32_t channels) { return scaledSizes(width, height, scale, channels); };
        if (scale > 0) {
            const Expected<ImageFloat> sizes = resultSizes(argmax ? 1 : std::max(plan->outputChannels, 1));
            if (!sizes) return fail(refusal(sizes.message()));
        }

        while (walk.next()) {
            const Tile& t = walk.tile();
            if (!work.tile.resize(side, side, numChannels))
                return fail("Velmora error: failed to allocate RAM buffer for the tile");
            extractTile(data, width, height, t.left, t.top, inputScale, work.tile.view());

            ImageFloat modelInput = work.tile.view();
            if (K >= 2) {
                if (!work.shrunk.resize(tileSize, tileSize, numChannels))
                    return fail("Velmora error - failed to allocate memory for rescaling");
                downsampleBox(work.tile.view(), work.shrunk.view(), K);
                modelInput = work.shrunk.view();
            }

            if (!modelLogic->isModelLoaded()) return fail("Velmora error: model not loaded, can't predict");
            const Expected<ImageFloat> result = runModelOnTile(*modelLogic, modelInput, scale);
            if (!result) return fail(refusal("the model " + result.message()));
            ImageFloat output = *result;
            // Another channel count has no consistent result: the result
            // image would be reallocated for it, losing the tiles already
            // stitched, and arg-max would weigh other classes.
            if (modelChannels == 0)
                modelChannels = output.numChannels;
            else if (output.numChannels != modelChannels)
                return fail(refusal("the model changed its channel count between tiles"));
            // The tile's result at full resolution: S times the tile's side.
            if (int64_t{side} * scale > std::numeric_limits<int32_t>::max())
                return fail(refusal("the model's result for a tile of " + std::to_string(side) +
                                    " pixels is too large to address"));
            const int32_t resultSide = side * scale;

            if (K >= 2) {
                const float inverseK = 1.0f / static_cast<float>(K);
                if (!work.enlarged.resize(resultSide, resultSide, output.numChannels))
                    return fail("Velmora error: failed to allocate RAM buffer for argmax");
                upsampleBilinearShifted(output, work.enlarged.view(), inverseK, inverseK);
                if (downscale < 0 && !argmax) {
                    if (!work.residual.resize(side, side, numChannels))
                        return fail("Velmora error - failed to allocate memory for rescaling");
                    const ImageFloat residual = work.residual.view();
                    upsampleBilinearShifted(work.shrunk.view(), residual, inverseK, inverseK);
                    if (scale == 1) {
                        addScaledImages(residual, work.tile.view(), residual, -1.0f);
                        addScaledChannels(work.enlarged.view(), residual, work.enlarged.view(), -1.0f);
                    } else {
                        // The lost detail, tile less its shrunk copy enlarged
                        // back, enlarged to the result's size and added.
                        addScaledImages(work.tile.view(), residual, residual, -1.0f);
                        const float inverseScale = 1.0f / static_cast<float>(scale);
                        addBilinear(residual, work.enlarged.view(), inverseScale, inverseScale);
                    }
                }
                output = work.enlarged.view();
            }

            const int32_t byteChannels = argmax ? 1 : output.numChannels;
            if (!work.bytes.resize(resultSide, resultSide, byteChannels))
                return fail(argmax ? "Velmora error: failed to allocate RAM buffer for argmax"
                                   : "Velmora error: failed to allocate RAM buffer for bitdepth conversion");
            const int64_t values = static_cast<int64_t>(resultSide) * resultSide * output.numChannels;
            if (argmax)
                argmaxChannels(output.data, work.bytes.view().data, static_cast<size_t>(values),
                               static_cast<size_t>(output.numChannels));
            else
                floatToByte(output.data, work.bytes.view().data, values, outputScale);

            const Expected<ImageFloat> sizes = resultSizes(byteChannels);
            if (!sizes) return fail(refusal(sizes.message()));
            if (!outputCharFull.resize(sizes->width, sizes->height, byteChannels))
                return fail("Velmora error: failed to allocated RAM for outputCharFull");
            // Each tile gives its central square, all of it S times larger
            // when the model enlarges. Origins past the image give nothing.
            const int64_t x = int64_t{t.originX} * scale, y = int64_t{t.originY} * scale;
            if (x < sizes->width && y < sizes->height)
                pastePatch(outputCharFull.view(), work.bytes.view(), static_cast<int32_t>(x), static_cast<int32_t>(y),
                           grid->margin * scale, grid->margin * scale, grid->step * scale, grid->step * scale);
        }
    } catch (const std::exception& e) {
        return fail(std::string("Exception in processing tile: ") + e.what());
    } catch (...) {
        return fail("Exception in processing tile: ...");
    }
    if (walk.stopped()) {
        lastTiledResult = {};
        return nullptr;
    }
    walk.finish();
    if (deleted) return nullptr;  // by the host, at the end
    const ImageByte& result = outputCharFull.view();
    lastTiledResult =
        TiledResultSizes{result.width, result.height, result.numChannels, width ? result.width / width : 0};
    return result.data;
}
