// TIFF through libtiff: 8 and 16-bit unsigned and 32-bit float samples, gray
// or RGB with an optional alpha, interleaved or planar, in strips. Other 8-bit
// kinds (palette, YCbCr, CMYK, tiles) are read through libtiff's RGBA reader.
#include <tiffio.h>

#include <cstdarg>
#include <cstring>
#include <memory>
#include <vector>

#include "image_files.h"

namespace {

// libtiff reports through a process-wide handler; keep its last words.
thread_local std::string lastTiffError;

void onError(const char* module, const char* format, va_list args) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    lastTiffError = module ? std::string(module) + ": " + text : text;
}
void onWarning(const char*, const char*, va_list) {}

struct TiffCloser {
    void operator()(TIFF* t) const { TIFFClose(t); }
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

TiffHandle openTiff(const std::filesystem::path& path, const char* mode) {
    TIFFSetErrorHandler(onError);
    TIFFSetWarningHandler(onWarning);
    lastTiffError = "cannot open";
    TiffHandle tiff(TIFFOpen(path.string().c_str(), mode));
    if (!tiff) throw std::runtime_error(path.string() + ": " + lastTiffError);
    return tiff;
}

std::runtime_error failure(const std::filesystem::path& path, const std::string& what) {
    return std::runtime_error(path.string() + ": " + what + (lastTiffError.empty() ? "" : " (" + lastTiffError + ")"));
}

float sampleValue(const unsigned char* p, SampleType type) {
    switch (type) {
        case SampleType::UInt8: return *p / 255.0f;
        case SampleType::UInt16: {
            uint16_t v;
            std::memcpy(&v, p, sizeof v);
            return v / 65535.0f;
        }
        case SampleType::Float32: {
            float v;
            std::memcpy(&v, p, sizeof v);
            return v;
        }
    }
    return 0.0f;
}

Raster readThroughRgba(TIFF* tiff, const std::filesystem::path& path, uint32_t width, uint32_t height) {
    Raster image = makeRaster(static_cast<int32_t>(width), static_cast<int32_t>(height), 4, SampleType::UInt8);
    std::vector<uint32_t> rgba(pixelCount(image));
    if (!TIFFReadRGBAImageOriented(tiff, width, height, rgba.data(), ORIENTATION_TOPLEFT, 0))
        throw failure(path, "unsupported TIFF layout");
    for (size_t i = 0; i < rgba.size(); ++i) {
        image.pixels[i * 4 + 0] = TIFFGetR(rgba[i]) / 255.0f;
        image.pixels[i * 4 + 1] = TIFFGetG(rgba[i]) / 255.0f;
        image.pixels[i * 4 + 2] = TIFFGetB(rgba[i]) / 255.0f;
        image.pixels[i * 4 + 3] = TIFFGetA(rgba[i]) / 255.0f;
    }
    return image;
}

}  // namespace

Raster readTiff(const std::filesystem::path& path) {
    TiffHandle tiff = openTiff(path, "r");
    lastTiffError.clear();
    uint32_t width = 0, height = 0;
    uint16_t samples = 1, bits = 1, format = SAMPLEFORMAT_UINT, planar = PLANARCONFIG_CONTIG, photometric = 0;
    if (!TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &width) ||
        !TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &height))
        throw failure(path, "TIFF without image size");
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetField(tiff.get(), TIFFTAG_PHOTOMETRIC, &photometric);

    SampleType type;
    if (bits == 8 && format == SAMPLEFORMAT_UINT)
        type = SampleType::UInt8;
    else if (bits == 16 && format == SAMPLEFORMAT_UINT)
        type = SampleType::UInt16;
    else if (bits == 32 && format == SAMPLEFORMAT_IEEEFP)
        type = SampleType::Float32;
    else
        throw failure(path, "unsupported TIFF samples (" + std::to_string(bits) + " bits, format " +
                                std::to_string(format) + ")");
    const bool direct = (photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_RGB) && samples >= 1 &&
                        samples <= 4 && !TIFFIsTiled(tiff.get());
    if (!direct) {
        if (type == SampleType::UInt8) return readThroughRgba(tiff.get(), path, width, height);
        throw failure(path, "unsupported TIFF layout");
    }

    Raster image = makeRaster(static_cast<int32_t>(width), static_cast<int32_t>(height), samples, type);
    const size_t bytesPerSample = bits / 8;
    std::vector<unsigned char> line(static_cast<size_t>(TIFFScanlineSize(tiff.get())));
    const bool separate = planar == PLANARCONFIG_SEPARATE;
    const uint16_t planes = separate ? samples : 1;
    const size_t perPixel = separate ? 1 : samples;
    if (line.size() < width * perPixel * bytesPerSample) throw failure(path, "inconsistent TIFF scanline size");
    for (uint16_t plane = 0; plane < planes; ++plane) {
        for (uint32_t y = 0; y < height; ++y) {
            if (TIFFReadScanline(tiff.get(), line.data(), y, plane) < 0) throw failure(path, "damaged TIFF image");
            float* row = image.pixels.data() + static_cast<size_t>(y) * width * samples;
            for (uint32_t x = 0; x < width; ++x)
                for (size_t s = 0; s < perPixel; ++s)
                    row[x * samples + plane + s] = sampleValue(line.data() + (x * perPixel + s) * bytesPerSample, type);
        }
    }
    return image;
}

void writeTiff(const std::filesystem::path& path, const Raster& image, SampleType type) {
    if (image.channels < 1 || image.channels > 4)
        throw std::runtime_error(path.string() + ": this TIFF writer holds 1 to 4 channels, the image has " +
                                 std::to_string(image.channels));
    TiffHandle tiff = openTiff(path, "w");
    lastTiffError.clear();
    const uint16_t channels = static_cast<uint16_t>(image.channels);
    const bool color = channels >= 3;
    const bool alpha = channels == 2 || channels == 4;
    const uint16_t bits = type == SampleType::UInt8 ? 8 : type == SampleType::UInt16 ? 16 : 32;
    TIFF* t = tiff.get();
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(image.width));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(image.height));
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, channels);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, type == SampleType::Float32 ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, color ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    if (alpha) {
        const uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
        TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));

    const size_t rowSamples = static_cast<size_t>(image.width) * channels;
    std::vector<unsigned char> line(rowSamples * (bits / 8));
    for (int32_t y = 0; y < image.height; ++y) {
        const float* row = image.pixels.data() + static_cast<size_t>(y) * rowSamples;
        for (size_t i = 0; i < rowSamples; ++i) {
            if (type == SampleType::Float32) {
                std::memcpy(line.data() + i * 4, &row[i], 4);
            } else if (type == SampleType::UInt16) {
                const auto v = static_cast<uint16_t>(quantize(row[i], 16));
                std::memcpy(line.data() + i * 2, &v, 2);
            } else {
                line[i] = static_cast<unsigned char>(quantize(row[i], 8));
            }
        }
        if (TIFFWriteScanline(t, line.data(), static_cast<uint32_t>(y), 0) < 0)
            throw failure(path, "cannot write TIFF");
    }
    if (!TIFFWriteDirectory(t)) throw failure(path, "cannot write TIFF");
    TIFF* raw = tiff.release();
    TIFFClose(raw);
    if (!lastTiffError.empty()) throw failure(path, "cannot write TIFF");
}
