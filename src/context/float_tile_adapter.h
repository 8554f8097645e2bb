// The float runs around the tile engine: tiles cut from a picture (the
// host's, its shrunk copy, or a band of its rows), results stitched hard or
// blended into a result (the whole picture's, or a band's rows), values
// through the profile's transforms on the way in and out.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "image/image_records.h"
#include "image/parallel_for.h"
#include "tiling/float_tiles.h"
#include "tiling/tile_engine.h"
#include "tiling/value_transform.h"

// Where a band's rows lie: in the picture it is cut from, and in the result.
struct TileBand {
    RowWindow source;            // where the picture's rows lie in the working image
    int64_t resultFirstRow = 0;  // the picture row the stitched image starts at
    int64_t resultRows = -1;     // picture rows it holds; negative: the working image's
    // Stitched rows the band before kept (empty: none), from picture row
    // `carriedFirstRow`: the stitched image starts from them.
    ImageFloat carried{0, 0, 0, nullptr};
    int64_t carriedFirstRow = 0;
};

class FloatPipelineTiles : public TileAdapter {
public:
    FloatPipelineTiles(const ImageFloat& working, const TileGrid& grid, ImageBuffer<ImageFloat>& stitched,
                       const ThreadSource& threads, const std::function<void(const Tile&)>& logTile,
                       const ValueTransform& input, const ValueTransform& output, bool blend, const char* noRoomWords,
                       TileBand band = {})
        : working_(working),
          grid_(grid),
          stitched_(stitched),
          threads_(threads),
          logTile_(logTile),
          input_(input),
          output_(output),
          blend_(blend),
          noRoomWords_(noRoomWords),
          band_(band) {}

    Status fill(const Tile& tile, const TensorFrame& input) override;
    Status beforeRun(const Tile& tile) override {
        logTile_(tile);
        return Ok{};
    }
    Status begin(int32_t scale, int32_t channels) override;
    Status store(const Tile& tile, const TensorFrame& result) override;

    // Kinds of the adapter's own failures.
    static constexpr int kRefusal = 100;  // an argument the call refuses
    static constexpr int kNoRoom = 101;   // no memory for the stitched image

private:
    const ImageFloat& working_;
    const TileGrid& grid_;
    ImageBuffer<ImageFloat>& stitched_;
    const ThreadSource& threads_;
    const std::function<void(const Tile&)>& logTile_;
    const ValueTransform& input_;
    const ValueTransform& output_;
    bool blend_;
    const char* noRoomWords_;
    TileBand band_;
    int32_t scale_ = 1;
    std::vector<float> row_;
};
