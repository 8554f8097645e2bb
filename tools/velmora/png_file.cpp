// PNG through libpng's classic interface: 8 and 16 bits, gray, gray + alpha,
// RGB and RGBA; palettes, low bit depths and transparency chunks are expanded.
#include <png.h>

#include <bit>
#include <csetjmp>
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

struct ReadJob {
    png_infop info;
    png_bytepp rows;
};

struct WriteJob {
    png_infop info;
    png_bytepp rows;
    std::FILE* file;
    png_uint_32 width, height;
    int bitDepth, colorType;
};

class ReadStruct {
public:
    explicit ReadStruct(std::string& error)
        : png(png_create_read_struct(PNG_LIBPNG_VER_STRING, &error, onError, onWarning)),
          info(png ? png_create_info_struct(png) : nullptr) {}
    ~ReadStruct() { png_destroy_read_struct(&png, &info, nullptr); }
    png_structp png;
    png_infop info;
};

class WriteStruct {
public:
    explicit WriteStruct(std::string& error)
        : png(png_create_write_struct(PNG_LIBPNG_VER_STRING, &error, onError, onWarning)),
          info(png ? png_create_info_struct(png) : nullptr) {}
    ~WriteStruct() { png_destroy_write_struct(&png, &info); }
    png_structp png;
    png_infop info;
};

std::runtime_error failure(const std::filesystem::path& path, const std::string& error) {
    return std::runtime_error(path.string() + ": not a readable PNG image (" + error + ")");
}

}  // namespace

Raster readPng(const std::filesystem::path& path) {
    FileHandle file = openFile(path, "rb");
    std::string error = "out of memory";
    ReadStruct s(error);
    if (!s.info) throw failure(path, error);
    struct Open {
        png_infop info;
        std::FILE* file;
    } open{s.info, file.get()};
    const bool headerRead = guarded<Open>(
        s.png,
        [](png_structp png, Open* o) {
            png_init_io(png, o->file);
            png_read_info(png, o->info);
            png_set_expand(png);  // palette to RGB, gray below 8 bits to 8, tRNS to alpha
            if (png_get_bit_depth(png, o->info) == 16 && std::endian::native == std::endian::little) png_set_swap(png);
            png_set_interlace_handling(png);
            png_read_update_info(png, o->info);
        },
        &open);
    if (!headerRead) throw failure(path, error);

    const int bitDepth = png_get_bit_depth(s.png, s.info);
    const int channels = png_get_channels(s.png, s.info);
    const auto width = static_cast<int32_t>(png_get_image_width(s.png, s.info));
    const auto height = static_cast<int32_t>(png_get_image_height(s.png, s.info));
    if ((bitDepth != 8 && bitDepth != 16) || channels < 1 || channels > 4) throw failure(path, "unsupported layout");
    Raster image = makeRaster(width, height, channels, bitDepth == 16 ? SampleType::UInt16 : SampleType::UInt8);
    const size_t rowBytes = png_get_rowbytes(s.png, s.info);
    std::vector<png_byte> bytes(rowBytes * static_cast<size_t>(height));
    std::vector<png_bytep> rows(static_cast<size_t>(height));
    for (int32_t y = 0; y < height; ++y) rows[y] = bytes.data() + rowBytes * static_cast<size_t>(y);
    ReadJob job{s.info, rows.data()};
    const bool read = guarded<ReadJob>(
        s.png,
        [](png_structp png, ReadJob* j) {
            png_read_image(png, j->rows);
            png_read_end(png, j->info);
        },
        &job);
    if (!read) throw failure(path, error);

    const size_t count = image.pixels.size();
    if (bitDepth == 16) {
        const auto* samples = reinterpret_cast<const uint16_t*>(bytes.data());
        for (size_t i = 0; i < count; ++i) image.pixels[i] = samples[i] / 65535.0f;
    } else {
        for (size_t i = 0; i < count; ++i) image.pixels[i] = bytes[i] / 255.0f;
    }
    return image;
}

void writePng(const std::filesystem::path& path, const Raster& image, SampleType type) {
    static const int colorTypes[] = {PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA, PNG_COLOR_TYPE_RGB,
                                     PNG_COLOR_TYPE_RGB_ALPHA};
    if (image.channels < 1 || image.channels > 4)
        throw std::runtime_error(path.string() + ": PNG holds 1 to 4 channels, the image has " +
                                 std::to_string(image.channels));
    const int bits = type == SampleType::UInt8 ? 8 : 16;
    const size_t rowSamples = static_cast<size_t>(image.width) * static_cast<size_t>(image.channels);
    const size_t rowBytes = rowSamples * static_cast<size_t>(bits / 8);
    std::vector<png_byte> bytes(rowBytes * static_cast<size_t>(image.height));
    for (size_t i = 0; i < image.pixels.size(); ++i) {
        const uint32_t v = quantize(image.pixels[i], bits);
        if (bits == 8)
            bytes[i] = static_cast<png_byte>(v);
        else
            reinterpret_cast<uint16_t*>(bytes.data())[i] = static_cast<uint16_t>(v);
    }
    std::vector<png_bytep> rows(static_cast<size_t>(image.height));
    for (int32_t y = 0; y < image.height; ++y) rows[y] = bytes.data() + rowBytes * static_cast<size_t>(y);

    FileHandle file = openFile(path, "wb");
    std::string error = "out of memory";
    WriteStruct s(error);
    if (!s.info) throw std::runtime_error(path.string() + ": " + error);
    WriteJob job{s.info,
                 rows.data(),
                 file.get(),
                 static_cast<png_uint_32>(image.width),
                 static_cast<png_uint_32>(image.height),
                 bits,
                 colorTypes[image.channels - 1]};
    const bool written = guarded<WriteJob>(
        s.png,
        [](png_structp png, WriteJob* j) {
            png_init_io(png, j->file);
            png_set_IHDR(png, j->info, j->width, j->height, j->bitDepth, j->colorType, PNG_INTERLACE_NONE,
                         PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
            png_write_info(png, j->info);
            if (j->bitDepth == 16 && std::endian::native == std::endian::little) png_set_swap(png);
            png_write_image(png, j->rows);
            png_write_end(png, j->info);
        },
        &job);
    if (!written) throw std::runtime_error(path.string() + ": cannot write PNG (" + error + ")");
    closeWrittenFile(file, path);
}
