// TIFF through libtiff: 8 and 16-bit unsigned and 32-bit float samples, gray
// or RGB with an optional alpha, interleaved or planar, in strips. Other 8-bit
// kinds (palette, YCbCr, CMYK, tiles) are read through libtiff's RGBA reader.
// The colour profile, the resolution and the orientation come along.
#include <tiffio.h>

#include <algorithm>
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

struct OptionsReleaser {
    void operator()(TIFFOpenOptions* o) const { TIFFOpenOptionsFree(o); }
};

TiffHandle openTiffFile(const std::filesystem::path& path, const char* mode, uint64_t fileSize) {
    TIFFSetErrorHandler(onError);
    TIFFSetWarningHandler(onWarning);
    lastTiffError = "cannot open";
    const std::unique_ptr<TIFFOpenOptions, OptionsReleaser> options(TIFFOpenOptionsAlloc());
    if (!options) throw std::runtime_error(path.string() + ": out of memory");
    // No single buffer larger than the file could fill (or 256 MiB for the
    // decoder's own tables).
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(),
                                        static_cast<tmsize_t>(std::max<uint64_t>(fileSize + (1u << 20), 256u << 20)));
    TiffHandle tiff(TIFFOpenExt(path.string().c_str(), mode, options.get()));
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

// No coder packs more than this many bytes into one (deflate about 1032,
// LZW about 2700); fax coding of bilevel pages is held to a bit per row.
constexpr uint64_t kMaxCompressionRatio = 4096;

// Every strip (or tile) must lie inside the file, an uncompressed one must
// hold all its bytes, and a compressed one cannot unpack to more than the
// coders allow: so no declared size is believed beyond what the file holds.
void checkChunks(TIFF* tiff, const std::filesystem::path& path, uint64_t fileSize) {
    const bool tiled = TIFFIsTiled(tiff);
    const uint32_t chunks = tiled ? TIFFNumberOfTiles(tiff) : TIFFNumberOfStrips(tiff);
    uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
    const bool fax = compression == COMPRESSION_CCITTRLE || compression == COMPRESSION_CCITTFAX3 ||
                     compression == COMPRESSION_CCITTFAX4 || compression == COMPRESSION_CCITTRLEW;
    uint32_t rowsPerStrip = 0;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    uint32_t height = 0;
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
    uint16_t planar = PLANARCONFIG_CONTIG, samples = 1;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    uint16_t bits = 1;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    // Fax codes hold one bit per pixel; with more, their bound of a bit per
    // row says nothing of the pixels' bytes, and a small file could declare a
    // picture of gigabytes.
    if (fax && (bits != 1 || samples != 1))
        throw std::runtime_error(path.string() + ": fax coding of " + std::to_string(samples) + " samples of " +
                                 std::to_string(bits) + " bits per pixel; the file is damaged");
    // Planes in separate strips each end with a strip of their own.
    const uint32_t stripsPerPlane = planar == PLANARCONFIG_SEPARATE && samples > 1 ? chunks / samples : chunks;
    for (uint32_t k = 0; k < chunks; ++k) {
        const uint64_t offset = TIFFGetStrileOffset(tiff, k);
        const uint64_t bytes = TIFFGetStrileByteCount(tiff, k);
        const uint64_t unpacked = static_cast<uint64_t>(tiled ? TIFFTileSize64(tiff) : TIFFStripSize64(tiff));
        if (offset > fileSize || bytes > fileSize - offset)
            throw std::runtime_error(path.string() + ": the file is cut short or damaged (" +
                                     std::string(tiled ? "tile " : "strip ") + std::to_string(k) + " ends at byte " +
                                     std::to_string(offset + bytes) + " of " + std::to_string(fileSize) + ")");
        const uint64_t limit = compression == COMPRESSION_NONE ? bytes : fax ? 0 : bytes * kMaxCompressionRatio + 4096;
        if (fax) {
            const uint64_t rows = tiled ? 0 : std::min<uint64_t>(rowsPerStrip, height);
            if (rows > bytes * 8 + 64)
                throw std::runtime_error(path.string() + ": strip " + std::to_string(k) + " declares " +
                                         std::to_string(rows) + " rows in " + std::to_string(bytes) +
                                         " bytes; the file is damaged");
            continue;
        }
        // The last strip may be shorter than the others. A strip holds at
        // most the image's rows, whatever RowsPerStrip says (it is often
        // 2^32 - 1 for one strip), as the strip size already counts.
        const bool last = !tiled && stripsPerPlane > 0 && k % stripsPerPlane == stripsPerPlane - 1;
        const uint64_t stripRows = std::min<uint64_t>(rowsPerStrip, height);
        const uint64_t needed =
            last && stripRows > 0 && height % stripRows != 0 ? unpacked / stripRows * (height % stripRows) : unpacked;
        if (needed > limit)
            throw std::runtime_error(path.string() + ": " + std::string(tiled ? "tile " : "strip ") +
                                     std::to_string(k) + " declares " + std::to_string(needed) +
                                     " bytes of pixels in " + std::to_string(bytes) +
                                     " bytes of file; it is cut short or damaged");
    }
}

class TiffReader final : public ImageReader {
public:
    // Read, not mapped: the pages of a mapped file would stay resident beside
    // the picture's floats.
    TiffReader(const std::filesystem::path& path, uint64_t fileSize)
        : path(path), tiff(openTiffFile(path, "rm", fileSize)) {
        lastTiffError.clear();
        TIFF* t = tiff.get();
        uint32_t width = 0, height = 0;
        if (!TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &width) || !TIFFGetField(t, TIFFTAG_IMAGELENGTH, &height))
            throw failure(path, "TIFF without image size");
        checkDeclaredSize(path, width, height);
        uint16_t samples = 1, bits = 1, format = SAMPLEFORMAT_UINT, orientation = ORIENTATION_TOPLEFT;
        TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &samples);
        TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
        TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLEFORMAT, &format);
        TIFFGetFieldDefaulted(t, TIFFTAG_PLANARCONFIG, &planar);
        TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric);
        TIFFGetFieldDefaulted(t, TIFFTAG_ORIENTATION, &orientation);
        checkChunks(t, path, fileSize);

        if (bits == 8 && format == SAMPLEFORMAT_UINT)
            head.type = SampleType::UInt8;
        else if (bits == 16 && format == SAMPLEFORMAT_UINT)
            head.type = SampleType::UInt16;
        else if (bits == 32 && format == SAMPLEFORMAT_IEEEFP)
            head.type = SampleType::Float32;
        else if (bits < 8 && photometric == PHOTOMETRIC_PALETTE)
            head.type = SampleType::UInt8;  // small palettes, through the RGBA reader
        else
            throw failure(path, "unsupported TIFF samples (" + std::to_string(bits) + " bits, format " +
                                    std::to_string(format) + ")");
        direct = (photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_RGB) && samples >= 1 &&
                 samples <= 4 && !TIFFIsTiled(t);
        if (!direct && head.type != SampleType::UInt8) throw failure(path, "unsupported TIFF layout");
        head.width = static_cast<int32_t>(width);
        head.height = static_cast<int32_t>(height);
        head.channels = direct ? samples : 4;
        // The RGBA reader turns the picture upright itself.
        head.orientation = direct ? orientationFromValue(orientation) : Orientation::Upright;
        const uint64_t pixels = static_cast<uint64_t>(width) * height;
        if (!direct)
            head.decoderBytes = pixels * 4;
        else if (planar == PLANARCONFIG_SEPARATE && samples > 1)
            head.decoderBytes = pixels * samples * (bits / 8);
        readPictureInfo();
    }

    // Pictures decoded whole hand their rows out in either order; strips
    // decode one at a time from the bottom.
    bool reads(RowOrder) const override { return true; }

    uint64_t bytesHeld(RowOrder order) const override {
        if (order == RowOrder::BottomUp && direct && !separate())
            return static_cast<uint64_t>(std::max<int64_t>(TIFFStripSize64(tiff.get()), 0));
        return head.decoderBytes;
    }

    void start(RowOrder order) override {
        lastTiffError.clear();
        next = order == RowOrder::TopDown ? 0 : head.height - 1;
        step = order == RowOrder::TopDown ? 1 : -1;
        const auto samples = static_cast<size_t>(head.channels);
        const size_t width = static_cast<size_t>(head.width);
        values.resize(width * samples);
        if (!direct) return decodeThroughRgba();
        const size_t perPixel = separate() ? 1 : samples;
        const tmsize_t lineSize = TIFFScanlineSize(tiff.get());
        if (lineSize <= 0 || static_cast<size_t>(lineSize) < width * perPixel * bytesPerSample())
            throw failure(path, "inconsistent TIFF scanline size");
        line.resize(static_cast<size_t>(lineSize));
        if (separate()) return decodePlanes();
        if (order == RowOrder::BottomUp) {
            const tmsize_t stripSize = TIFFStripSize(tiff.get());
            if (stripSize <= 0) throw failure(path, "inconsistent TIFF strip size");
            strip.resize(static_cast<size_t>(stripSize));
            stripHeld = UINT32_MAX;
        }
    }

    const float* nextRow() override {
        const int32_t y = next;
        next += step;
        if (!direct) {
            const uint32_t* row = rgba.data() + static_cast<size_t>(y) * static_cast<size_t>(head.width);
            for (size_t x = 0; x < static_cast<size_t>(head.width); ++x) {
                values[x * 4 + 0] = TIFFGetR(row[x]) / 255.0f;
                values[x * 4 + 1] = TIFFGetG(row[x]) / 255.0f;
                values[x * 4 + 2] = TIFFGetB(row[x]) / 255.0f;
                values[x * 4 + 3] = TIFFGetA(row[x]) / 255.0f;
            }
            return values.data();
        }
        const size_t width = static_cast<size_t>(head.width), bytes = bytesPerSample();
        const auto samples = static_cast<size_t>(head.channels);
        if (separate()) {
            const size_t planeBytes = width * bytes * static_cast<size_t>(head.height);
            for (size_t plane = 0; plane < samples; ++plane) {
                const unsigned char* row = planes.data() + plane * planeBytes + static_cast<size_t>(y) * width * bytes;
                for (size_t x = 0; x < width; ++x)
                    values[x * samples + plane] = sampleValue(row + x * bytes, head.type);
            }
            return values.data();
        }
        const unsigned char* row = step > 0 ? readLine(y, 0) : lineFromStrip(y);
        for (size_t i = 0; i < width * samples; ++i) values[i] = sampleValue(row + i * bytes, head.type);
        return values.data();
    }

    void finish() override {
        std::vector<uint32_t>().swap(rgba);
        std::vector<unsigned char>().swap(planes);
        std::vector<unsigned char>().swap(strip);
    }

private:
    size_t bytesPerSample() const {
        return head.type == SampleType::UInt8 ? 1 : head.type == SampleType::UInt16 ? 2 : 4;
    }
    bool separate() const { return planar == PLANARCONFIG_SEPARATE && head.channels > 1; }

    const unsigned char* readLine(int32_t y, size_t plane) {
        if (TIFFReadScanline(tiff.get(), line.data(), static_cast<uint32_t>(y), static_cast<uint16_t>(plane)) < 0 ||
            !lastTiffError.empty())
            throw failure(path, "damaged TIFF image");
        return line.data();
    }

    // Row y out of its strip, decoded whole once for all its rows.
    const unsigned char* lineFromStrip(int32_t y) {
        const uint32_t index = TIFFComputeStrip(tiff.get(), static_cast<uint32_t>(y), 0);
        uint32_t rowsPerStrip = 0;
        TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
        const uint64_t firstRow = static_cast<uint64_t>(index) * rowsPerStrip;
        const uint64_t offset = (static_cast<uint64_t>(y) - firstRow) * line.size();
        if (index != stripHeld) {
            const tmsize_t got =
                TIFFReadEncodedStrip(tiff.get(), index, strip.data(), static_cast<tmsize_t>(strip.size()));
            if (got < 0 || static_cast<uint64_t>(got) < offset + line.size() || !lastTiffError.empty())
                throw failure(path, "damaged TIFF image");
            stripHeld = index;
        }
        if (offset + line.size() > strip.size()) throw failure(path, "damaged TIFF image");
        return strip.data() + offset;
    }

    // Planes lie in separate strips that libtiff decodes front to back:
    // read plane after plane in the file's own samples.
    void decodePlanes() {
        const size_t rowBytes = static_cast<size_t>(head.width) * bytesPerSample();
        const size_t planeBytes = rowBytes * static_cast<size_t>(head.height);
        const auto samples = static_cast<size_t>(head.channels);
        planes.resize(planeBytes * samples);
        for (size_t plane = 0; plane < samples; ++plane)
            for (int32_t y = 0; y < head.height; ++y)
                std::memcpy(planes.data() + plane * planeBytes + static_cast<size_t>(y) * rowBytes, readLine(y, plane),
                            rowBytes);
    }

    void decodeThroughRgba() {
        const auto width = static_cast<uint32_t>(head.width), height = static_cast<uint32_t>(head.height);
        rgba.resize(static_cast<size_t>(width) * height);
        // Stop at the first damaged strip instead of filling it in.
        if (!TIFFReadRGBAImageOriented(tiff.get(), width, height, rgba.data(), ORIENTATION_TOPLEFT, 1) ||
            !lastTiffError.empty())
            throw failure(path, "damaged or unsupported TIFF image");
    }

    void readPictureInfo() {
        TIFF* t = tiff.get();
        uint32_t profileLength = 0;
        void* profile = nullptr;
        if (TIFFGetField(t, TIFFTAG_ICCPROFILE, &profileLength, &profile) && profile && profileLength > 0) {
            const auto* bytes = static_cast<const unsigned char*>(profile);
            head.info.iccProfile.assign(bytes, bytes + profileLength);
        }
        float x = 0, y = 0;
        uint16_t unit = RESUNIT_INCH;
        if (TIFFGetField(t, TIFFTAG_XRESOLUTION, &x) && TIFFGetField(t, TIFFTAG_YRESOLUTION, &y) && x > 0 && y > 0) {
            TIFFGetFieldDefaulted(t, TIFFTAG_RESOLUTIONUNIT, &unit);
            head.info.density = {x, y,
                                 unit == RESUNIT_INCH         ? Density::Unit::Inch
                                 : unit == RESUNIT_CENTIMETER ? Density::Unit::Centimetre
                                                              : Density::Unit::None};
        }
    }

    std::filesystem::path path;
    TiffHandle tiff;
    uint16_t planar = PLANARCONFIG_CONTIG;
    uint16_t photometric = 0;
    bool direct = true;
    int32_t next = 0, step = 1;
    std::vector<float> values;
    std::vector<unsigned char> line, planes, strip;
    std::vector<uint32_t> rgba;
    uint32_t stripHeld = UINT32_MAX;
};

}  // namespace

std::unique_ptr<ImageReader> openTiff(const std::filesystem::path& path, uint64_t fileSize) {
    return std::make_unique<TiffReader>(path, fileSize);
}

void writeTiff(const std::filesystem::path& path, const ImageToWrite& toWrite, const RowSource& source) {
    if (toWrite.channels < 1 || toWrite.channels > 4)
        throw std::runtime_error(path.string() + ": this TIFF writer holds 1 to 4 channels, the image has " +
                                 std::to_string(toWrite.channels));
    const auto channels = static_cast<uint16_t>(toWrite.channels);
    const bool color = channels >= 3;
    const bool alpha = channels == 2 || channels == 4;
    const uint16_t bits = toWrite.type == SampleType::UInt8 ? 8 : toWrite.type == SampleType::UInt16 ? 16 : 32;
    // The classic format's offsets end at 4 GiB; samples near that, even
    // deflated, may pass it: BigTIFF.
    const uint64_t sampleBytes =
        static_cast<uint64_t>(toWrite.width) * static_cast<uint64_t>(toWrite.height) * channels * (bits / 8);
    TiffHandle tiff = openTiffFile(path, sampleBytes >= (uint64_t{1} << 32) - (uint64_t{1} << 28) ? "w8" : "w", 0);
    lastTiffError.clear();
    TIFF* t = tiff.get();
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(toWrite.width));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(toWrite.height));
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, channels);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(t, TIFFTAG_SAMPLEFORMAT,
                 toWrite.type == SampleType::Float32 ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, color ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    if (alpha) {
        const uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
        TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    const PictureInfo& info = toWrite.info;
    if (!info.iccProfile.empty())
        TIFFSetField(t, TIFFTAG_ICCPROFILE, static_cast<uint32_t>(info.iccProfile.size()), info.iccProfile.data());
    if (info.density.known()) {
        TIFFSetField(t, TIFFTAG_XRESOLUTION, static_cast<float>(info.density.x));
        TIFFSetField(t, TIFFTAG_YRESOLUTION, static_cast<float>(info.density.y));
        TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT,
                     info.density.unit == Density::Unit::Inch         ? RESUNIT_INCH
                     : info.density.unit == Density::Unit::Centimetre ? RESUNIT_CENTIMETER
                                                                      : RESUNIT_NONE);
    }
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));

    const size_t rowSamples = static_cast<size_t>(toWrite.width) * channels;
    std::vector<float> row(rowSamples);
    std::vector<unsigned char> line(rowSamples * (bits / 8));
    for (int32_t y = 0; y < toWrite.height; ++y) {
        source(y, row.data());
        for (size_t i = 0; i < rowSamples; ++i) {
            if (toWrite.type == SampleType::Float32) {
                std::memcpy(line.data() + i * 4, &row[i], 4);
            } else if (toWrite.type == SampleType::UInt16) {
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
