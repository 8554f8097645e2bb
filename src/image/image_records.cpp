#include "image/image_records.h"

#include <limits>
#include <new>

int64_t imageBufferElements(int64_t width, int64_t height, int64_t numChannels,
                            int64_t elementBytes) {
    if (width < 0 || height < 0 || numChannels < 0 || elementBytes <= 0) return -1;
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    if (width != 0 && height > kMax / width) return -1;
    const int64_t pixels = width * height + 1;
    if (numChannels != 0 && pixels > kMax / numChannels) return -1;
    const int64_t elements = pixels * numChannels;
    if (elements > kMax / elementBytes) return -1;
    return elements;
}

float* allocateFloats(int64_t count) noexcept {
    if (count < 0 || static_cast<uint64_t>(count) > std::numeric_limits<size_t>::max() / sizeof(float))
        return nullptr;
    return new (std::nothrow) float[static_cast<size_t>(count)];
}

uint8_t* allocateBytes(int64_t count) noexcept {
    if (count < 0 || static_cast<uint64_t>(count) > std::numeric_limits<size_t>::max())
        return nullptr;
    return new (std::nothrow) uint8_t[static_cast<size_t>(count)];
}

namespace {

template <typename Record>
bool sizesMatch(const Record& image, int32_t width, int32_t height, int32_t numChannels) {
    return image.data && image.width == width && image.height == height &&
           image.numChannels == numChannels;
}

}  // namespace

bool ensureImage(ImageFloat& image, int32_t width, int32_t height, int32_t numChannels) {
    if (sizesMatch(image, width, height, numChannels)) return true;
    releaseImage(image);
    float* data = allocateFloats(imageBufferElements(width, height, numChannels, sizeof(float)));
    if (!data) return false;
    image = ImageFloat{width, height, numChannels, data};
    return true;
}

bool ensureImage(ImageByte& image, int32_t width, int32_t height, int32_t numChannels) {
    if (sizesMatch(image, width, height, numChannels)) return true;
    releaseImage(image);
    uint8_t* data = allocateBytes(imageBufferElements(width, height, numChannels, 1));
    if (!data) return false;
    image = ImageByte{width, height, numChannels, data};
    return true;
}

bool ensureImage(SharedImageFloat& image, int32_t width, int32_t height, int32_t numChannels) {
    if (image.data && image.width == width && image.height == height &&
        image.numChannels == numChannels)
        return true;
    releaseImage(image);
    float* data = allocateFloats(imageBufferElements(width, height, numChannels, sizeof(float)));
    if (!data) return false;
    try {
        image.data = std::shared_ptr<float[]>(data);
    } catch (...) {  // no control block; the constructor has already freed `data`
        return false;
    }
    image.width = width;
    image.height = height;
    image.numChannels = numChannels;
    return true;
}

void releaseImage(ImageFloat& image) {
    delete[] image.data;
    image = ImageFloat{0, 0, 0, nullptr};
}

void releaseImage(ImageByte& image) {
    delete[] image.data;
    image = ImageByte{};
}

void releaseImage(SharedImageFloat& image) {
    image.data.reset();
    image.width = image.height = image.numChannels = 0;
}
