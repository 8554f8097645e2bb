#include "image/utils_image_cropping.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <type_traits>

void cropPatch(const ImageFloat& fullImage, ImageFloat patchImage, int32_t x, int32_t y) {
    if (fullImage.data == nullptr) return;
    assert(fullImage.numChannels == patchImage.numChannels);
    if (fullImage.width <= 0 || fullImage.height <= 0) return;

    const int64_t channels = fullImage.numChannels;
    const int64_t fullWidth = fullImage.width;
    const int64_t fullHeight = fullImage.height;
    const int64_t patchWidth = patchImage.width;
    const size_t pixelBytes = static_cast<size_t>(channels) * sizeof(float);

    // Runs of equal edge pixels: one copy of the pixel, then the filled part
    // doubles with each block copy.
    auto replicate = [&](float* dst, const float* pixel, int64_t count) {
        if (count <= 0) return;
        std::memcpy(dst, pixel, pixelBytes);
        for (int64_t filled = 1; filled < count;) {
            const int64_t n = std::min(filled, count - filled);
            std::memcpy(dst + filled * channels, dst, static_cast<size_t>(n) * pixelBytes);
            filled += n;
        }
    };

    const int64_t left = x < 0 ? std::min<int64_t>(patchWidth, -static_cast<int64_t>(x)) : 0;
    const int64_t startColumn = std::max<int64_t>(x, 0);
    const int64_t middle = startColumn < fullWidth ? std::min(patchWidth - left, fullWidth - startColumn) : 0;
    const int64_t right = patchWidth - left - middle;

    for (int64_t r = 0; r < patchImage.height; ++r) {
        const int64_t sy = std::clamp<int64_t>(y + r, 0, fullHeight - 1);
        const float* srcRow = fullImage.data + sy * fullWidth * channels;
        float* dst = patchImage.data + r * patchWidth * channels;
        replicate(dst, srcRow, left);
        dst += left * channels;
        if (middle > 0) {
            std::memcpy(dst, srcRow + startColumn * channels, static_cast<size_t>(middle) * pixelBytes);
            dst += middle * channels;
        }
        replicate(dst, srcRow + (fullWidth - 1) * channels, right);
    }
}

namespace {

struct PasteRect {
    int64_t x, y, patchX, patchY, width, height;
};

// Clips the rectangle to the full image; false if nothing is left to copy.
bool clipPaste(int64_t fullWidth, int64_t fullHeight, int64_t patchWidth, int64_t patchHeight, PasteRect& r) {
    if (r.width < 0) r.width = patchWidth;
    if (r.height < 0) r.height = patchHeight;
    if (r.x + r.width > fullWidth) r.width = fullWidth - r.x;
    if (r.y + r.height > fullHeight) r.height = fullHeight - r.y;
    if (r.x < 0) {
        r.width += r.x;
        r.patchX -= r.x;
        r.x = 0;
    }
    if (r.y < 0) {
        r.height += r.y;
        r.patchY -= r.y;
        r.y = 0;
    }
    return r.width > 0 && r.height > 0;
}

template <typename Record>
void copyRows(const Record& fullImage, const Record& patchImage, const PasteRect& r, int64_t firstRow,
              int64_t lastRow) {
    using Element = std::remove_pointer_t<decltype(fullImage.data)>;
    const int64_t channels = fullImage.numChannels;
    const size_t rowBytes = static_cast<size_t>(r.width * channels) * sizeof(Element);
    for (int64_t row = firstRow; row <= lastRow; ++row) {
        const Element* src = patchImage.data + ((r.patchY + row) * patchImage.width + r.patchX) * channels;
        Element* dst = fullImage.data + ((r.y + row) * fullImage.width + r.x) * channels;
        std::memcpy(dst, src, rowBytes);
    }
}

}  // namespace

void pastePatch(ImageByte fullImage, const ImageByte& patchImage, int32_t x, int32_t y, int32_t patchX, int32_t patchY,
                int32_t width, int32_t height) {
    assert(fullImage.numChannels == patchImage.numChannels);
    PasteRect r{x, y, patchX, patchY, width, height};
    if (!clipPaste(fullImage.width, fullImage.height, patchImage.width, patchImage.height, r)) return;
    copyRows(fullImage, patchImage, r, 0, r.height - 1);
}

void pastePatch(ImageFloat fullImage, const ImageFloat& patchImage, int32_t x, int32_t y, int32_t patchX,
                int32_t patchY, int32_t width, int32_t height, const ThreadSource& threads) {
    assert(fullImage.numChannels == patchImage.numChannels);
    PasteRect r{x, y, patchX, patchY, width, height};
    if (!clipPaste(fullImage.width, fullImage.height, patchImage.width, patchImage.height, r)) return;
    // Starting threads costs more than copying a tile-sized rectangle, and far
    // more while the inference runtime's own threads still hold the cores, so
    // only large rectangles are split.
    const int64_t bytes = r.width * r.height * fullImage.numChannels * static_cast<int64_t>(sizeof(float));
    const ParallelForConfig config{bytes >= kPasteSplitBytes, 0, threads};
    parallelFor(config, 0, r.height - 1,
                [&](int64_t from, int64_t to) { copyRows(fullImage, patchImage, r, from, to); });
}
