// Image records shared by the pipelines, the image utilities and the backend.
// Pixels are stored row by row, channels interleaved, no row padding. Every
// buffer the library allocates for w x h x c holds c * (w * h + 1) elements:
// one spare pixel beyond the image.
#pragma once

#include <cstdint>
#include <memory>

#include "velmora.h"  // ImageFloat crosses the exported interface

struct ImageByte {
    int32_t width = 0;
    int32_t height = 0;
    int32_t numChannels = 0;
    uint8_t* data = nullptr;
};

struct SharedImageFloat {
    int32_t width = 0;
    int32_t height = 0;
    int32_t numChannels = 0;
    std::shared_ptr<float[]> data;

    ImageFloat view() const { return ImageFloat{width, height, numChannels, data.get()}; }
};

// Elements of a buffer for w x h x c under the one-spare-pixel rule, or -1 when
// a size is negative or the byte size of `elementBytes`-sized elements does not
// fit in 64 bits.
int64_t imageBufferElements(int64_t width, int64_t height, int64_t numChannels,
                            int64_t elementBytes = sizeof(float));

// Allocation never throws: null on failure or when the count is negative.
float* allocateFloats(int64_t count) noexcept;
uint8_t* allocateBytes(int64_t count) noexcept;

// Keeps a record that already has exactly these sizes and a buffer (contents
// included); otherwise releases it and allocates anew. On failure the record
// is left empty and the result is false.
bool ensureImage(ImageFloat& image, int32_t width, int32_t height, int32_t numChannels);
bool ensureImage(ImageByte& image, int32_t width, int32_t height, int32_t numChannels);
bool ensureImage(SharedImageFloat& image, int32_t width, int32_t height, int32_t numChannels);

void releaseImage(ImageFloat& image);
void releaseImage(ImageByte& image);
void releaseImage(SharedImageFloat& image);

inline int64_t pixelCount(const ImageFloat& image) {
    return static_cast<int64_t>(image.width) * image.height;
}
inline int64_t elementCount(const ImageFloat& image) {
    return pixelCount(image) * image.numChannels;
}
