// A tile as the model holds it: the pixels of one input or output tensor in
// the model's own layout and element type. The engine writes tiles into the
// model's input and reads results out of its output through these, so that
// each tile is converted once on its way in and once on its way out.
#pragma once

#include <cstdint>
#include <vector>

enum class Layout { ChannelsFirst, ChannelsLast };

// The runtime's code of 32-bit floats, the library's own element type.
inline constexpr int32_t kFloatElements = 1;

// How a model takes one tile (square for the tiled runs): its layout,
// element type, sizes and the tensor's dimensions.
struct TileInputSpec {
    Layout layout = Layout::ChannelsLast;
    int32_t elementType = kFloatElements;
    int32_t width = 0, height = 0;
    int32_t channels = 0;
    std::vector<int64_t> dims;
};

// A model's output as the runtime left it.
struct TileTensor {
    const void* data = nullptr;
    int32_t elementType = kFloatElements;
    std::vector<int64_t> dims;
};

// Pixels of a tensor: `width` x `height` pixels of `channels` values,
// interleaved (channels-last) or one plane per channel (channels-first).
// Pixel positions count row by row from the top left.
struct TensorFrame {
    void* data = nullptr;
    int32_t elementType = kFloatElements;
    Layout layout = Layout::ChannelsLast;
    int64_t width = 0, height = 0, channels = 0;

    // Already the library's own interleaved floats: readable in place.
    bool holdsFloats() const {
        return elementType == kFloatElements && (layout == Layout::ChannelsLast || channels == 1);
    }
    float* floatsAt(int64_t pixel) const { return static_cast<float*>(data) + pixel * channels; }
};

// `count` interleaved float pixels written from pixel `at` on.
void writePixels(const TensorFrame& frame, int64_t at, const float* pixels, int64_t count);
// One pixel written `count` times from pixel `at` on.
void repeatPixel(const TensorFrame& frame, int64_t at, const float* pixel, int64_t count);
// `count` pixels from pixel `at` on, read into interleaved floats.
void readPixels(const TensorFrame& frame, int64_t at, int64_t count, float* out);
