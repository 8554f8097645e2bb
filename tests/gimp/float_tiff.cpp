#include "float_tiff.h"

#include <tiffio.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>

namespace {

struct TiffCloser {
    void operator()(TIFF* t) const { TIFFClose(t); }
};
using TiffFile = std::unique_ptr<TIFF, TiffCloser>;

TiffFile open(const std::filesystem::path& path, const char* mode) {
    TiffFile file(TIFFOpen(path.c_str(), mode));
    if (!file) throw std::runtime_error(path.string() + ": cannot be opened");
    return file;
}

}  // namespace

void writeFloatTiff(const std::filesystem::path& path, const FloatPicture& picture) {
    TiffFile file = open(path, "w");
    TIFF* t = file.get();
    const uint16_t channels = static_cast<uint16_t>(picture.channels);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(picture.width));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(picture.height));
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, channels);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 32);
    TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, channels >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 1);
    if (channels == 2 || channels == 4) {
        const uint16_t extra = EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &extra);
    }
    std::vector<float> row(static_cast<size_t>(picture.width) * channels);
    for (int y = 0; y < picture.height; ++y) {
        std::copy_n(picture.values.begin() + static_cast<std::ptrdiff_t>(y * row.size()), row.size(), row.begin());
        if (TIFFWriteScanline(t, row.data(), static_cast<uint32_t>(y), 0) < 0)
            throw std::runtime_error(path.string() + ": cannot be written");
    }
}

FloatPicture readFloatTiff(const std::filesystem::path& path) {
    TiffFile file = open(path, "r");
    TIFF* t = file.get();
    uint32_t width = 0, height = 0;
    uint16_t channels = 0, bits = 0, format = SAMPLEFORMAT_UINT, planar = PLANARCONFIG_CONTIG;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &channels);
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(t, TIFFTAG_PLANARCONFIG, &planar);
    if (bits != 32 || format != SAMPLEFORMAT_IEEEFP || planar != PLANARCONFIG_CONTIG)
        throw std::runtime_error(path.string() + ": not interleaved 32-bit float samples (" + std::to_string(bits) +
                                 " bits, format " + std::to_string(format) + ")");
    FloatPicture picture{static_cast<int>(width), static_cast<int>(height), channels, {}};
    picture.values.resize(static_cast<size_t>(width) * height * channels);
    if (static_cast<size_t>(TIFFScanlineSize(t)) != static_cast<size_t>(width) * channels * sizeof(float))
        throw std::runtime_error(path.string() + ": unexpected row size");
    for (uint32_t y = 0; y < height; ++y)
        if (TIFFReadScanline(t, picture.values.data() + static_cast<size_t>(y) * width * channels, y, 0) < 0)
            throw std::runtime_error(path.string() + ": cannot be read");
    return picture;
}
