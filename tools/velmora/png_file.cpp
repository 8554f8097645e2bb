// PNG through libpng's classic interface: 8 and 16 bits, gray, gray + alpha,
// RGB and RGBA; palettes, low bit depths and transparency chunks are expanded.
// The colour profile (iCCP), the resolution (pHYs) and an EXIF orientation
// (eXIf) come along.
#include <png.h>

#include <bit>
#include <cmath>
#include <csetjmp>
#include <cstring>
#include <vector>

#include "file_handle.h"
#include "image_files.h"

namespace {

// libpng reports errors by calling back and never returning; the jump lands
// in guarded(), whose frame holds no object that needs destroying.
void onError(png_structp png, png_const_charp message) {
    *static_cast<std::string*>(png_get_error_ptr(png)) = message;
    png_longjmp(png, 1);
}
void onWarning(png_structp, png_const_charp) {}

template <typename Arg>
bool guarded(png_structp png, void (*step)(png_structp, Arg*), Arg* arg) {
    if (setjmp(png_jmpbuf(png))) return false;
    step(png, arg);
    return true;
}

class ReadStruct {
public:
    explicit ReadStruct(std::string& error)
        : png(png_create_read_struct(PNG_LIBPNG_VER_STRING, &error, onError, onWarning)),
          info(png ? png_create_info_struct(png) : nullptr) {}
    ~ReadStruct() { png_destroy_read_struct(&png, &info, nullptr); }
    ReadStruct(const ReadStruct&) = delete;
    ReadStruct& operator=(const ReadStruct&) = delete;
    png_structp png;
    png_infop info;
};

class WriteStruct {
public:
    explicit WriteStruct(std::string& error)
        : png(png_create_write_struct(PNG_LIBPNG_VER_STRING, &error, onError, onWarning)),
          info(png ? png_create_info_struct(png) : nullptr) {}
    ~WriteStruct() { png_destroy_write_struct(&png, &info); }
    WriteStruct(const WriteStruct&) = delete;
    WriteStruct& operator=(const WriteStruct&) = delete;
    png_structp png;
    png_infop info;
};

std::runtime_error failure(const std::filesystem::path& path, const std::string& error) {
    return std::runtime_error(path.string() + ": not a readable PNG image (" + error + ")");
}

// zlib cannot pack more than about 1032 bytes into one.
constexpr uint64_t kMaxDeflateRatio = 1100;

struct HeaderJob {
    png_infop info;
    std::FILE* file;
};

struct RowJob {
    png_bytep row;
    png_bytepp rows;  // the whole image, for interlaced files
    png_infop info;
};

class PngReader final : public ImageReader {
public:
    PngReader(const std::filesystem::path& path, uint64_t fileSize) : path(path), file(openFile(path, "rb")), s(error) {
        if (!s.info) throw failure(path, error);
        HeaderJob job{s.info, file.get()};
        const bool headerRead = guarded<HeaderJob>(
            s.png,
            [](png_structp png, HeaderJob* j) {
                png_init_io(png, j->file);
                png_set_user_limits(png, static_cast<png_uint_32>(kMaxImageSide),
                                    static_cast<png_uint_32>(kMaxImageSide));
                png_read_info(png, j->info);
            },
            &job);
        if (!headerRead) throw failure(path, error);

        const png_uint_32 width = png_get_image_width(s.png, s.info), height = png_get_image_height(s.png, s.info);
        checkDeclaredSize(path, width, height);
        const uint64_t storedRow =
            (static_cast<uint64_t>(width) * png_get_channels(s.png, s.info) * png_get_bit_depth(s.png, s.info) + 7) /
                8 +
            1;
        if (storedRow * height > kMaxDeflateRatio * fileSize + (1u << 20))
            throw std::runtime_error(path.string() + ": the file declares " + std::to_string(width) + " x " +
                                     std::to_string(height) + " pixels, more than its " + std::to_string(fileSize) +
                                     " bytes can hold; it is damaged");
        interlaced = png_get_interlace_type(s.png, s.info) != PNG_INTERLACE_NONE;
        readPictureInfo();

        const bool headerUpdated = guarded<HeaderJob>(
            s.png,
            [](png_structp png, HeaderJob* j) {
                png_set_expand(png);  // palette to RGB, gray below 8 bits to 8, tRNS to alpha
                if (png_get_bit_depth(png, j->info) == 16 && std::endian::native == std::endian::little)
                    png_set_swap(png);
                png_set_interlace_handling(png);
                png_read_update_info(png, j->info);
            },
            &job);
        if (!headerUpdated) throw failure(path, error);
        const int bitDepth = png_get_bit_depth(s.png, s.info);
        const int channels = png_get_channels(s.png, s.info);
        if ((bitDepth != 8 && bitDepth != 16) || channels < 1 || channels > 4)
            throw failure(path, "unsupported layout");
        head.width = static_cast<int32_t>(width);
        head.height = static_cast<int32_t>(height);
        head.channels = channels;
        head.type = bitDepth == 16 ? SampleType::UInt16 : SampleType::UInt8;
        if (interlaced) head.decoderBytes = png_get_rowbytes(s.png, s.info) * static_cast<uint64_t>(height);
    }

    // Interlaced rows arrive in passes: only the whole image is complete,
    // and then its rows can be handed out in either order.
    bool reads(RowOrder order) const override { return order == RowOrder::TopDown || interlaced; }

    void start(RowOrder order) override {
        if (!reads(order)) throw std::runtime_error(path.string() + ": PNG rows are read from the top only");
        const size_t rowBytes = png_get_rowbytes(s.png, s.info);
        values.resize(static_cast<size_t>(head.width) * static_cast<size_t>(head.channels));
        bytes.resize(interlaced ? rowBytes * static_cast<size_t>(head.height) : rowBytes);
        next = order == RowOrder::TopDown ? 0 : head.height - 1;
        step = order == RowOrder::TopDown ? 1 : -1;
        if (!interlaced) return;
        rows.resize(static_cast<size_t>(head.height));
        for (int32_t y = 0; y < head.height; ++y) rows[y] = bytes.data() + rowBytes * static_cast<size_t>(y);
        RowJob job{nullptr, rows.data(), s.info};
        if (!guarded<RowJob>(
                s.png, [](png_structp png, RowJob* j) { png_read_image(png, j->rows); }, &job))
            throw failure(path, error);
    }

    const float* nextRow() override {
        png_bytep row = interlaced ? rows[next] : bytes.data();
        next += step;
        if (!interlaced) {
            RowJob job{row, nullptr, s.info};
            if (!guarded<RowJob>(
                    s.png, [](png_structp png, RowJob* j) { png_read_row(png, j->row, nullptr); }, &job))
                throw failure(path, error);
        }
        if (head.type == SampleType::UInt16) {
            for (size_t i = 0; i < values.size(); ++i) {
                uint16_t v;
                std::memcpy(&v, row + i * 2, 2);
                values[i] = v / 65535.0f;
            }
        } else {
            for (size_t i = 0; i < values.size(); ++i) values[i] = row[i] / 255.0f;
        }
        return values.data();
    }

    void finish() override {
        RowJob end{nullptr, nullptr, s.info};
        if (!guarded<RowJob>(
                s.png, [](png_structp png, RowJob* j) { png_read_end(png, j->info); }, &end))
            throw failure(path, error);
        std::vector<png_byte>().swap(bytes);
        std::vector<png_bytep>().swap(rows);
    }

private:
    void readPictureInfo() {
        png_charp name = nullptr;
        int compression = 0;
        png_bytep profile = nullptr;
        png_uint_32 profileLength = 0;
        if (png_get_iCCP(s.png, s.info, &name, &compression, &profile, &profileLength) && profile)
            head.info.iccProfile.assign(profile, profile + profileLength);
        png_uint_32 x = 0, y = 0;
        int unit = 0;
        if (png_get_pHYs(s.png, s.info, &x, &y, &unit) && x > 0 && y > 0) {
            // Pixels per metre, kept per centimetre.
            const bool metre = unit == PNG_RESOLUTION_METER;
            head.info.density = {metre ? x / 100.0 : x, metre ? y / 100.0 : y,
                                 metre ? Density::Unit::Centimetre : Density::Unit::None};
        }
#ifdef PNG_eXIf_SUPPORTED
        png_bytep exif = nullptr;
        png_uint_32 exifLength = 0;
        if (png_get_eXIf_1(s.png, s.info, &exifLength, &exif) && exif && exifLength > 0) {
            std::vector<unsigned char> block{'E', 'x', 'i', 'f', 0, 0};
            block.insert(block.end(), exif, exif + exifLength);
            head.orientation = orientationFromExif(block.data(), block.size());
        }
#endif
    }

    std::filesystem::path path;
    FileHandle file;
    std::string error = "out of memory";
    ReadStruct s;
    bool interlaced = false;
    std::vector<float> values;
    std::vector<png_byte> bytes;
    std::vector<png_bytep> rows;  // into bytes, for interlaced files
    int32_t next = 0, step = 1;
};

struct WriteJob {
    png_infop info;
    std::FILE* file;
    png_uint_32 width, height;
    int bitDepth, colorType;
    const PictureInfo* picture;
};

struct WriteRowJob {
    png_bytep row;
    png_infop info;
};

}  // namespace

std::unique_ptr<ImageReader> openPng(const std::filesystem::path& path, uint64_t fileSize) {
    return std::make_unique<PngReader>(path, fileSize);
}

void writePng(const std::filesystem::path& path, const ImageToWrite& toWrite, const RowSource& source) {
    static const int colorTypes[] = {PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA, PNG_COLOR_TYPE_RGB,
                                     PNG_COLOR_TYPE_RGB_ALPHA};
    if (toWrite.channels < 1 || toWrite.channels > 4)
        throw std::runtime_error(path.string() + ": PNG holds 1 to 4 channels, the image has " +
                                 std::to_string(toWrite.channels));
    const int bits = toWrite.type == SampleType::UInt8 ? 8 : 16;
    const size_t rowSamples = static_cast<size_t>(toWrite.width) * static_cast<size_t>(toWrite.channels);
    std::vector<float> values(rowSamples);
    std::vector<png_byte> bytes(rowSamples * static_cast<size_t>(bits / 8));

    FileHandle file = openFile(path, "wb");
    std::string error = "out of memory";
    WriteStruct s(error);
    if (!s.info) throw std::runtime_error(path.string() + ": " + error);
    WriteJob job{s.info,
                 file.get(),
                 static_cast<png_uint_32>(toWrite.width),
                 static_cast<png_uint_32>(toWrite.height),
                 bits,
                 colorTypes[toWrite.channels - 1],
                 &toWrite.info};
    const bool started = guarded<WriteJob>(
        s.png,
        [](png_structp png, WriteJob* j) {
            png_init_io(png, j->file);
            png_set_benign_errors(png, 1);  // a profile libpng dislikes is dropped, not fatal
            png_set_IHDR(png, j->info, j->width, j->height, j->bitDepth, j->colorType, PNG_INTERLACE_NONE,
                         PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
            const PictureInfo& p = *j->picture;
            if (!p.iccProfile.empty())
                png_set_iCCP(png, j->info, "ICC profile", PNG_COMPRESSION_TYPE_BASE, p.iccProfile.data(),
                             static_cast<png_uint_32>(p.iccProfile.size()));
            if (p.density.known()) {
                const bool unit = p.density.unit != Density::Unit::None;
                auto perMetre = [&](double v) {
                    return static_cast<png_uint_32>(std::lround(unit ? p.density.perInch(v) / 0.0254 : v));
                };
                png_set_pHYs(png, j->info, perMetre(p.density.x), perMetre(p.density.y),
                             unit ? PNG_RESOLUTION_METER : PNG_RESOLUTION_UNKNOWN);
            }
            png_write_info(png, j->info);
            if (j->bitDepth == 16 && std::endian::native == std::endian::little) png_set_swap(png);
        },
        &job);
    if (!started) throw std::runtime_error(path.string() + ": cannot write PNG (" + error + ")");
    for (int32_t y = 0; y < toWrite.height; ++y) {
        source(y, values.data());
        for (size_t i = 0; i < rowSamples; ++i) {
            const uint32_t v = quantize(values[i], bits);
            if (bits == 8) {
                bytes[i] = static_cast<png_byte>(v);
            } else {
                const auto v16 = static_cast<uint16_t>(v);
                std::memcpy(bytes.data() + i * 2, &v16, 2);
            }
        }
        WriteRowJob row{bytes.data(), s.info};
        if (!guarded<WriteRowJob>(
                s.png, [](png_structp png, WriteRowJob* r) { png_write_row(png, r->row); }, &row))
            throw std::runtime_error(path.string() + ": cannot write PNG (" + error + ")");
    }
    WriteRowJob end{nullptr, s.info};
    if (!guarded<WriteRowJob>(
            s.png, [](png_structp png, WriteRowJob* r) { png_write_end(png, r->info); }, &end))
        throw std::runtime_error(path.string() + ": cannot write PNG (" + error + ")");
    closeWrittenFile(file, path);
}
