#include "raster.h"

#include <cmath>
#include <stdexcept>

Raster makeRaster(int32_t width, int32_t height, int32_t channels, SampleType type) {
    if (width <= 0 || height <= 0 || channels <= 0)
        throw std::runtime_error("an image needs a width, a height and channels of 1 or more");
    Raster r;
    r.width = width;
    r.height = height;
    r.channels = channels;
    r.type = type;
    r.pixels.assign(pixelCount(r) * static_cast<size_t>(channels), 0.0f);
    return r;
}

const char* sampleTypeName(SampleType type) {
    switch (type) {
        case SampleType::UInt8: return "8-bit";
        case SampleType::UInt16: return "16-bit";
        case SampleType::Float32: return "32-bit float";
    }
    return "?";
}

uint32_t quantize(float value, int bits) {
    const float top = bits == 16 ? 65535.0f : 255.0f;
    if (!(value > 0.0f)) return 0;  // NaN too
    if (value >= 1.0f) return static_cast<uint32_t>(top);
    return static_cast<uint32_t>(std::lround(value * top));
}
