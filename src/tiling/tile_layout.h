// Where a model keeps the channels of an image, read from its own shapes:
// channels-first [1, C, H, W] or channels-last [1, H, W, C]. Declared shapes
// hold -1 where the model leaves a dimension open. Only where the shape
// cannot tell (open dimensions, or as many channels as pixels on a side)
// does the layout code given at loading decide: 0 channels-first, anything
// else channels-last.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "diagnostics/expected.h"
#include "tiling/tile_tensor.h"

// "[1, 3, ?, ?]"
std::string shapeText(const std::vector<int64_t>& dims);

// The layout a declared four-dimensional image shape reads as when nothing
// else is known: sides that are open or equal tell, else the code.
Layout declaredLayout(const std::vector<int64_t>& declared, int32_t layoutCode);

// A declared image shape read by its layout: -1 where a size is open.
struct DeclaredImage {
    Layout layout = Layout::ChannelsLast;
    int64_t width = -1, height = -1, channels = -1;
};
// False when the shape has not four dimensions.
bool readDeclaredImage(const std::vector<int64_t>& declared, int32_t layoutCode, DeclaredImage& image);

// How a model takes a square tile of side x side pixels with `channels`
// channels: its layout and the tensor's dimensions (open ones filled: batch
// 1, sides the tile's, channels the image's).
struct TileInput {
    Layout layout = Layout::ChannelsLast;
    std::vector<int64_t> dims;
};

// The tile's input, or why the model cannot take it, in words without a
// subject ("takes 16 x 16 tiles, not 32 x 32", "takes 3 channels, the image
// has 4").
Expected<TileInput> tileInput(const std::vector<int64_t>& declared, int64_t side, int64_t channels, int32_t layoutCode);

// A model's result for a tile of `side` pixels: S x side on both sides, S a
// whole number from 1 to kMaxResultScale.
inline constexpr int32_t kMaxResultScale = 16;

struct TileOutput {
    Layout layout = Layout::ChannelsLast;
    int64_t width = 0, height = 0, channels = 0;
};

// How the result `dims` of a run on a tile of `side` pixels is read, given
// the output's declared shape: the layout whose sides are equal whole
// multiples of the tile wins; between two, the declared shape and then the
// code decide. Fails, naming the sizes ("returned a 24 x 24 result for a
// 16 x 16 tile"), when neither layout gives such a result.
Expected<TileOutput> tileOutput(const std::vector<int64_t>& dims, const std::vector<int64_t>& declared, int64_t side,
                                int32_t layoutCode);

// What the declared output shape says of the result for a tile of `side`
// pixels before any run: its scale and channel count where they are fixed
// (0 where open), or, when no layout can give a tile's result, why.
struct TileForecast {
    int64_t scale = 0;
    int64_t channels = 0;
};
Expected<TileForecast> tileForecast(const std::vector<int64_t>& declared, int64_t side, int32_t layoutCode);

// The dimensions of a direct run's input: the declared ones, with open
// dimensions taken from the caller's sizes (batch 1; with four or three
// dimensions, height, width and channels where the layout puts them; with
// two, height and width; with one, every value).
std::vector<int64_t> directInputDims(const std::vector<int64_t>& declared, int64_t width, int64_t height,
                                     int64_t channels, int32_t layoutCode);
