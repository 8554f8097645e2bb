// Geometry shared by the tiled pipelines.
#pragma once

#include <cstdint>
#include <string>

struct TileGrid {
    int32_t margin = 0;   // (tile side - step) / 2
    int32_t across = 0;   // tiles across the full-size image
    int32_t down = 0;     // tiles down
    int32_t count = 0;    // across x down
};

// Tiles of side `tileSide` whose origins are `gridStep` apart cover a
// `width` x `height` image; `contribution` is the side each tile gives to the
// result. Returns an empty text on success, otherwise what is wrong with the
// arguments.
std::string planTiles(int64_t width, int64_t height, int64_t tileSide, int64_t contribution, int64_t gridStep,
                      TileGrid& grid);

// Share done before tile `done` of `count`, as the host sees it.
inline float tileProgress(int32_t done, int32_t count) {
    return static_cast<float>(done) / (static_cast<float>(count) / 100.0f);
}
