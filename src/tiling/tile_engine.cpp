#include "tiling/tile_engine.h"

#include <exception>
#include <new>

namespace {
Failure adapterFailure(const std::exception& e) {
    return failure(e.what() ? e.what() : "Unknown exception", kAdapterException);
}
}  // namespace

Expected<TileRunStats> runTileEngine(ModelLogic& backend, ModelTiles& model, TileWalk& walk, TileAdapter& adapter) {
    TileRunStats stats;
    const TileInputSpec& form = model.input;
    TensorFrame input{nullptr, form.elementType, form.layout, form.width, form.height, form.channels};
    auto makeRoom = [&]() -> Status {
        try {
            input.data = backend.tileInput(form);
        } catch (const std::bad_alloc&) {
            return failure("", kNoTileRoom);
        }
        return Ok{};
    };
    if (!adapter.roomAtFirstTile)
        if (const Status room = makeRoom(); !room) return room.error();
    ResultReader reader(model, form.width);
    int32_t channels = 0;  // of the first result; every later one keeps it
    while (walk.next()) {
        const Tile& tile = walk.tile();
        if (!input.data)
            if (const Status room = makeRoom(); !room) return room.error();
        Expected<TileTensor> tensor = failure("");
        try {
            if (const Status filled = adapter.fill(tile, input); !filled) return filled.error();
            backend.preparePrediction();
            if (const Status ready = adapter.beforeRun(tile); !ready) return ready.error();
        } catch (const std::exception& e) {
            return adapterFailure(e);
        }
        try {
            tensor = backend.runTile();
        } catch (const std::exception& e) {
            return failure(e.what() ? e.what() : "Unknown exception", kModelException);
        }
        if (!tensor) return failure(tensor.message(), kModelFailure);
        ++stats.tiles;
        const Expected<TensorFrame> shaped = reader.shape(*tensor);
        if (!shaped) return failure(shaped.message(), kModelFailure);
        backend.tileResultRead(static_cast<int32_t>(shaped->width), static_cast<int32_t>(shaped->height),
                               static_cast<int32_t>(shaped->channels));
        const Expected<TensorFrame> result = reader.check(*shaped);
        if (!result) return failure(result.message(), kModelFailure);
        try {
            if (channels == 0) {
                channels = static_cast<int32_t>(result->channels);
                model.outputChannels = channels;
                if (const Status begun = adapter.begin(model.scale, channels); !begun) return begun.error();
            } else if (result->channels != channels) {
                return failure("changed its channel count between tiles", kChannelsChanged);
            }
            if (const Status stored = adapter.store(tile, *result); !stored) return stored.error();
        } catch (const std::exception& e) {
            return adapterFailure(e);
        }
    }
    stats.copies = adapter.copies;
    return stats;
}
