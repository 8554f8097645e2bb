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
#include <vector>

#include "context/VelmoraClass.h"
#include "image/utils_image_cropping.h"
#include "image/utils_image_operations.h"
#include "image/utils_image_resize_float.h"
#include "tiling/byte_tiles.h"
#include "tiling/tile_engine.h"
#include "tiling/tile_grid.h"

namespace {

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

// The 8-bit pipeline around the engine, in its words for what fails.
class BytePipelineTiles : public TileAdapter {
public:
    struct Call {
        RgbPicture picture;
        int32_t numChannels, tileSize, K;
        bool detail;  // a negative downscale: the shrunk tile's lost detail is restored
        float inputScale;
        ByteConversion bytes;
        ValueTransform input, output;  // the profile's
    };
    BytePipelineTiles(const Call& call, const TileGrid& grid, ModelLogic& backend, ImageBuffer<ImageByte>& result)
        : call_(call), grid_(grid), backend_(backend), result_(result) {
        roomAtFirstTile = true;
    }

    Status fill(const Tile& t, const TensorFrame& input) override {
        if (call_.K == 1) {
            cutByteTile(call_.picture, t.left, t.top, call_.inputScale, input, row_, call_.input);
            ++copies;
            return Ok{};
        }
        // Per-tile shrinking: the tile is cut at K times the model's side and
        // box-averaged to it on its own (the float pipeline shrinks the whole
        // image once instead).
        const int32_t side = call_.tileSize * call_.K;
        if (!tile_.resize(side, side, call_.numChannels))
            return failure("Velmora error: failed to allocate RAM buffer for the tile", kAdapterFailure);
        extractTile(call_.picture, t.left, t.top, call_.inputScale, tile_.view());
        if (!shrunk_.resize(call_.tileSize, call_.tileSize, call_.numChannels))
            return failure("Velmora error - failed to allocate memory for rescaling", kAdapterFailure);
        downsampleBox(tile_.view(), shrunk_.view(), call_.K);
        if (call_.input.identity()) {
            writePixels(input, 0, shrunk_.view().data, pixelCount(shrunk_.view()));
        } else {
            // The shrunk tile stays in the host's values for the detail.
            if (!modelIn_.resize(call_.tileSize, call_.tileSize, call_.numChannels))
                return failure("Velmora error - failed to allocate memory for rescaling", kAdapterFailure);
            std::copy_n(shrunk_.view().data, elementCount(shrunk_.view()), modelIn_.view().data);
            call_.input.apply(modelIn_.view().data, pixelCount(modelIn_.view()), call_.numChannels);
            writePixels(input, 0, modelIn_.view().data, pixelCount(modelIn_.view()));
        }
        copies += 3;
        return Ok{};
    }
    Status beforeRun(const Tile&) override {
        if (!backend_.isModelLoaded())
            return failure("Velmora error: model not loaded, can't predict", kAdapterFailure);
        return Ok{};
    }
    Status begin(int32_t scale, int32_t channels) override {
        scale_ = scale;
        // The tile's result at full resolution: S times the tile's side.
        const int64_t side = int64_t{call_.tileSize} * call_.K;
        if (side * scale > std::numeric_limits<int32_t>::max())
            return failure(
                refusal("the model's result for a tile of " + std::to_string(side) + " pixels is too large to address"),
                kAdapterFailure);
        const int32_t byteChannels = call_.bytes.argmax ? 1 : channels;
        const Expected<ImageFloat> sizes = scaledSizes(call_.picture.width, call_.picture.height, scale, byteChannels);
        if (!sizes) return failure(refusal(sizes.message()), kAdapterFailure);
        if (!result_.resize(sizes->width, sizes->height, byteChannels))
            return failure("Velmora error: failed to allocated RAM for outputCharFull", kAdapterFailure);
        return Ok{};
    }
    Status store(const Tile& t, const TensorFrame& result) override {
        const int64_t s = scale_;
        const StitchSquare square{t.originX * s, t.originY * s, grid_.margin * s, grid_.step * s};
        if (call_.K == 1) {
            stitchByteTile(result, result_.view(), square, call_.bytes, row_, call_.output);
            ++copies;
            return Ok{};
        }
        return storeEnlarged(result, square);
    }

private:
    // Shrunk, the model's output is enlarged by K (and given back the
    // tile's lost detail) before it becomes bytes.
    Status storeEnlarged(const TensorFrame& result, const StitchSquare& square) {
        ImageFloat output{static_cast<int32_t>(result.width), static_cast<int32_t>(result.height),
                          static_cast<int32_t>(result.channels), nullptr};
        if (result.holdsFloats() && call_.output.identity()) {
            output.data = static_cast<float*>(result.data);
        } else {
            if (!output_.resize(output.width, output.height, output.numChannels))
                return failure("Velmora error: failed to allocate RAM buffer for argmax", kAdapterFailure);
            output.data = output_.view().data;
            readPixels(result, 0, pixelCount(output), output.data);
            call_.output.apply(output.data, pixelCount(output), output.numChannels);
            ++copies;
        }
        const int32_t resultSide = call_.tileSize * call_.K * scale_;
        const float inverseK = 1.0f / static_cast<float>(call_.K);
        if (!enlarged_.resize(resultSide, resultSide, output.numChannels))
            return failure("Velmora error: failed to allocate RAM buffer for argmax", kAdapterFailure);
        upsampleBilinearShifted(output, enlarged_.view(), inverseK, inverseK);
        ++copies;
        // Arg-max outputs are class scores, not pixel values: no detail.
        if (call_.detail && !call_.bytes.argmax) {
            const int32_t side = call_.tileSize * call_.K;
            if (!residual_.resize(side, side, call_.numChannels))
                return failure("Velmora error - failed to allocate memory for rescaling", kAdapterFailure);
            const ImageFloat residual = residual_.view();
            upsampleBilinearShifted(shrunk_.view(), residual, inverseK, inverseK);
            if (scale_ == 1) {
                addScaledImages(residual, tile_.view(), residual, -1.0f);
                addScaledChannels(enlarged_.view(), residual, enlarged_.view(), -1.0f);
            } else {
                // The lost detail, tile less its shrunk copy enlarged back,
                // enlarged to the result's size and added.
                addScaledImages(tile_.view(), residual, residual, -1.0f);
                const float inverseScale = 1.0f / static_cast<float>(scale_);
                addBilinear(residual, enlarged_.view(), inverseScale, inverseScale);
            }
            copies += 2;
        }
        const int32_t byteChannels = call_.bytes.argmax ? 1 : output.numChannels;
        if (!bytes_.resize(resultSide, resultSide, byteChannels))
            return failure(call_.bytes.argmax ? "Velmora error: failed to allocate RAM buffer for argmax"
                                              : "Velmora error: failed to allocate RAM buffer for bitdepth conversion",
                           kAdapterFailure);
        convertToBytes(enlarged_.view().data, pixelCount(enlarged_.view()), output.numChannels, call_.bytes,
                       bytes_.view().data);
        const int64_t x = square.x, y = square.y;
        if (x < result_.view().width && y < result_.view().height)
            pastePatch(result_.view(), bytes_.view(), static_cast<int32_t>(x), static_cast<int32_t>(y),
                       static_cast<int32_t>(square.from), static_cast<int32_t>(square.from),
                       static_cast<int32_t>(square.side), static_cast<int32_t>(square.side));
        copies += 2;
        return Ok{};
    }

    const Call& call_;
    const TileGrid& grid_;
    ModelLogic& backend_;
    ImageBuffer<ImageByte>& result_;
    int32_t scale_ = 1;
    std::vector<float> row_;
    ImageBuffer<ImageFloat> tile_;      // side x side, model channels
    ImageBuffer<ImageFloat> shrunk_;    // tileSize x tileSize
    ImageBuffer<ImageFloat> modelIn_;   // the shrunk tile in the model's values
    ImageBuffer<ImageFloat> output_;    // the model's output as interleaved floats, where it is not
    ImageBuffer<ImageFloat> enlarged_;  // the output enlarged by K
    ImageBuffer<ImageFloat> residual_;  // enlarged shrunk tile - tile
    ImageBuffer<ImageByte> bytes_;
};

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

    Progress progress{callback, userData, *this};
    TileWalk walk(*grid, progress.forWalk(), &progress);
    try {
        // What the model's shapes say of its tiles and results, before
        // anything is allocated.
        const Expected<ModelTiles> model = modelTiles(modelLogic->description(), tileSize, numChannels);
        if (!model) return fail(refusal("the model " + model.message()));
        ModelTiles tiles = *model;
        if (tiles.scale > 0) {
            const Expected<ImageFloat> sizes =
                scaledSizes(width, height, tiles.scale, argmax ? 1 : std::max(tiles.outputChannels, 1));
            if (!sizes) return fail(refusal(sizes.message()));
        }
        const BytePipelineTiles::Call call{{data, width, height},
                                           numChannels,
                                           tileSize,
                                           K,
                                           downscale < 0 && K >= 2,
                                           inputScale,
                                           {argmax, outputScale},
                                           profileInput(numChannels),
                                           profileOutput(0)};
        BytePipelineTiles adapter(call, *grid, *modelLogic, outputCharFull);
        const Expected<TileRunStats> run = runTileEngine(*modelLogic, tiles, walk, adapter);
        if (!run) {
            switch (run.kind()) {
                case kAdapterFailure: return fail(run.message());
                case kNoTileRoom: return fail("Velmora error: failed to allocate RAM buffer for the tile");
                case kModelException:
                case kAdapterException: return fail("Exception in processing tile: " + run.message());
                case kChannelsChanged: return fail(refusal("the model changed its channel count between tiles"));
                default: return fail(refusal("the model " + run.message()));
            }
        }
        lastTileStats = *run;
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
    learnResult(lastTiledResult.scale, argmax ? 0 : result.numChannels);
    return result.data;
}
