// The command's image record: what a file held, as floats the library takes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class SampleType { UInt8, UInt16, Float32 };

// Interleaved pixels, rows top to bottom. Integer samples are scaled to
// [0, 1] (8-bit k becomes k / 255, 16-bit k becomes k / 65535); float samples
// are kept as they are. `type` says what the file held, so that a result can
// be written back at the same depth.
struct Raster {
    int32_t width = 0;
    int32_t height = 0;
    int32_t channels = 0;  // 1 gray, 2 gray + alpha, 3 RGB, 4 RGBA
    SampleType type = SampleType::UInt8;
    std::vector<float> pixels;
};

inline size_t pixelCount(const Raster& r) { return static_cast<size_t>(r.width) * static_cast<size_t>(r.height); }

// Sizes and allocates; the pixels are zero.
Raster makeRaster(int32_t width, int32_t height, int32_t channels, SampleType type);

const char* sampleTypeName(SampleType type);

// Integer sample of `bits` (8 or 16) for a value in [0, 1], clamped and rounded.
uint32_t quantize(float value, int bits);
