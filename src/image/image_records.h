// Image records shared by the pipelines, the image utilities and the backend.
// Pixels are stored row by row, channels interleaved, no row padding. Every
// buffer the library allocates for w x h x c holds c * (w * h + 1) elements:
// one spare pixel beyond the image.
//
// ImageFloat and ImageByte are plain records: copying one copies the sizes and
// the pointer, never the pixels. A buffer the library owns is an ImageBuffer,
// which hands out records of its pixels through view().
#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <type_traits>

#include "velmora.h"  // ImageFloat crosses the exported interface

struct ImageByte {
    int32_t width = 0;
    int32_t height = 0;
    int32_t numChannels = 0;
    uint8_t* data = nullptr;
};

// Elements of a buffer for w x h x c under the one-spare-pixel rule, or -1 when
// a size is negative or the byte size of `elementBytes`-sized elements does not
// fit in 64 bits.
int64_t imageBufferElements(int64_t width, int64_t height, int64_t numChannels, int64_t elementBytes = sizeof(float));

// Allocation never throws: null on failure or when the count is negative.
// The elements are not cleared; the array is freed with delete[].
template <typename T>
T* allocateArray(int64_t count) noexcept {
    if (count < 0 || static_cast<uint64_t>(count) > std::numeric_limits<size_t>::max() / sizeof(T)) return nullptr;
    return new (std::nothrow) T[static_cast<size_t>(count)];
}

// An image that owns its pixels, viewed as a Record (ImageFloat or
// ImageByte); it moves but is not copied. The record from view() is valid
// until the buffer is resized to other sizes, reset or gone.
template <typename Record>
class ImageBuffer {
public:
    using Element = std::remove_pointer_t<decltype(Record::data)>;

    // Keeps the buffer, contents included, when it already has exactly these
    // sizes; otherwise frees it and allocates anew (not cleared). False, with
    // the image left empty, when the memory cannot be had or the sizes
    // cannot be addressed.
    [[nodiscard]] bool resize(int32_t width, int32_t height, int32_t numChannels) noexcept;
    void reset() noexcept {
        pixels_.reset();
        record_ = Record{0, 0, 0, nullptr};
    }
    const Record& view() const noexcept { return record_; }
    bool empty() const noexcept { return !pixels_; }

private:
    std::unique_ptr<Element[]> pixels_;
    Record record_{0, 0, 0, nullptr};
};

extern template class ImageBuffer<ImageFloat>;
extern template class ImageBuffer<ImageByte>;

// For records whose buffer is handed to someone else (a result record the
// caller frees with releaseImage): keeps a record that already has exactly
// these sizes and a buffer (contents included); otherwise releases it and
// allocates anew. On failure the record is left empty and the result is false.
bool ensureImage(ImageFloat& image, int32_t width, int32_t height, int32_t numChannels);

void releaseImage(ImageFloat& image);

inline int64_t pixelCount(const ImageFloat& image) { return static_cast<int64_t>(image.width) * image.height; }
inline int64_t elementCount(const ImageFloat& image) { return pixelCount(image) * image.numChannels; }
