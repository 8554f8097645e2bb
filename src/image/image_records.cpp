#include "image/image_records.h"

#include <limits>

int64_t imageBufferElements(int64_t width, int64_t height, int64_t numChannels, int64_t elementBytes) {
    if (width < 0 || height < 0 || numChannels < 0 || elementBytes <= 0) return -1;
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    if (width != 0 && height > kMax / width) return -1;
    const int64_t pixels = width * height + 1;
    if (numChannels != 0 && pixels > kMax / numChannels) return -1;
    const int64_t elements = pixels * numChannels;
    if (elements > kMax / elementBytes) return -1;
    return elements;
}

namespace {

template <typename T>
T* allocatePixels(int32_t width, int32_t height, int32_t numChannels) noexcept {
    return allocateArray<T>(imageBufferElements(width, height, numChannels, sizeof(T)));
}

}  // namespace

template <typename Record>
bool ImageBuffer<Record>::resize(int32_t width, int32_t height, int32_t numChannels) noexcept {
    const Record& r = record_;
    if (pixels_ && r.width == width && r.height == height && r.numChannels == numChannels) return true;
    reset();  // first, so that the old and the new buffer never coexist
    pixels_.reset(allocatePixels<Element>(width, height, numChannels));
    if (pixels_) record_ = Record{width, height, numChannels, pixels_.get()};
    return !empty();
}

template class ImageBuffer<ImageFloat>;
template class ImageBuffer<ImageByte>;

bool ensureImage(ImageFloat& image, int32_t width, int32_t height, int32_t numChannels) {
    if (image.data && image.width == width && image.height == height && image.numChannels == numChannels) return true;
    releaseImage(image);
    float* data = allocatePixels<float>(width, height, numChannels);
    if (!data) return false;
    image = ImageFloat{width, height, numChannels, data};
    return true;
}

void releaseImage(ImageFloat& image) {
    delete[] image.data;
    image = ImageFloat{0, 0, 0, nullptr};
}
