// JPEG through libjpeg-turbo: 8-bit gray and RGB (YCbCr files are converted).
#include <cstdio>
// jpeglib.h needs size_t and FILE declared before it.
#include <jerror.h>
#include <jpeglib.h>

#include <csetjmp>
#include <vector>

#include "file_handle.h"
#include "image_files.h"

namespace {

// libjpeg reports a fatal error through error_exit, which must not return;
// the jump lands in guarded(), whose frame holds no object to destroy.
struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void onError(j_common_ptr info) {
    auto* errors = reinterpret_cast<ErrorManager*>(info->err);
    info->err->format_message(info, errors->message);
    std::longjmp(errors->jump, 1);
}
void onMessage(j_common_ptr) {}

template <typename Job>
bool guarded(ErrorManager& errors, void (*step)(Job*), Job* job) {
    if (setjmp(errors.jump)) return false;
    step(job);
    return true;
}

void initErrors(ErrorManager& errors) {
    jpeg_std_error(&errors.base);
    errors.base.error_exit = onError;
    errors.base.output_message = onMessage;
    errors.message[0] = '\0';
}

struct Decompress {
    jpeg_decompress_struct info;
    std::FILE* file;
    std::vector<unsigned char>* pixels;
};

struct Compress {
    jpeg_compress_struct info;
    std::FILE* file;
    const unsigned char* pixels;
    int width, height, channels, quality;
};

}  // namespace

Raster readJpeg(const std::filesystem::path& path) {
    FileHandle file = openFile(path, "rb");
    ErrorManager errors;
    initErrors(errors);
    std::vector<unsigned char> pixels;
    Decompress job{};
    job.info.err = &errors.base;
    job.file = file.get();
    job.pixels = &pixels;
    jpeg_create_decompress(&job.info);
    const bool headerRead = guarded<Decompress>(
        errors,
        [](Decompress* j) {
            jpeg_stdio_src(&j->info, j->file);
            jpeg_read_header(&j->info, TRUE);
            const bool gray = j->info.jpeg_color_space == JCS_GRAYSCALE;
            if (!gray && j->info.num_components != 3) ERREXIT(&j->info, JERR_CONVERSION_NOTIMPL);
            j->info.out_color_space = gray ? JCS_GRAYSCALE : JCS_RGB;
            jpeg_start_decompress(&j->info);
        },
        &job);
    if (!headerRead) {
        jpeg_destroy_decompress(&job.info);
        throw std::runtime_error(path.string() + ": not a readable JPEG image (" + errors.message + ")");
    }
    const int32_t width = static_cast<int32_t>(job.info.output_width);
    const int32_t height = static_cast<int32_t>(job.info.output_height);
    const int32_t channels = job.info.output_components;
    pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * static_cast<size_t>(channels));
    const bool read = guarded<Decompress>(
        errors,
        [](Decompress* j) {
            const size_t stride =
                static_cast<size_t>(j->info.output_width) * static_cast<size_t>(j->info.output_components);
            while (j->info.output_scanline < j->info.output_height) {
                JSAMPROW row = j->pixels->data() + stride * j->info.output_scanline;
                jpeg_read_scanlines(&j->info, &row, 1);
            }
            jpeg_finish_decompress(&j->info);
        },
        &job);
    jpeg_destroy_decompress(&job.info);
    if (!read) throw std::runtime_error(path.string() + ": damaged JPEG image (" + errors.message + ")");

    Raster image = makeRaster(width, height, channels, SampleType::UInt8);
    for (size_t i = 0; i < pixels.size(); ++i) image.pixels[i] = pixels[i] / 255.0f;
    return image;
}

void writeJpeg(const std::filesystem::path& path, const Raster& image, int quality) {
    if (image.channels != 1 && image.channels != 3)
        throw std::runtime_error(path.string() + ": JPEG holds gray or RGB, the image has " +
                                 std::to_string(image.channels) + " channels");
    std::vector<unsigned char> pixels(image.pixels.size());
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<unsigned char>(quantize(image.pixels[i], 8));

    FileHandle file = openFile(path, "wb");
    ErrorManager errors;
    initErrors(errors);
    Compress job{};
    job.info.err = &errors.base;
    job.file = file.get();
    job.pixels = pixels.data();
    job.width = image.width;
    job.height = image.height;
    job.channels = image.channels;
    job.quality = quality;
    jpeg_create_compress(&job.info);
    const bool written = guarded<Compress>(
        errors,
        [](Compress* j) {
            jpeg_stdio_dest(&j->info, j->file);
            j->info.image_width = static_cast<JDIMENSION>(j->width);
            j->info.image_height = static_cast<JDIMENSION>(j->height);
            j->info.input_components = j->channels;
            j->info.in_color_space = j->channels == 1 ? JCS_GRAYSCALE : JCS_RGB;
            jpeg_set_defaults(&j->info);
            jpeg_set_quality(&j->info, j->quality, TRUE);
            // Full-resolution colour at high quality: chroma subsampling would
            // blur exactly the detail that image models restore.
            if (j->quality >= 90)
                for (int c = 0; c < j->info.num_components; ++c)
                    j->info.comp_info[c].h_samp_factor = j->info.comp_info[c].v_samp_factor = 1;
            jpeg_start_compress(&j->info, TRUE);
            const size_t stride = static_cast<size_t>(j->width) * static_cast<size_t>(j->channels);
            while (j->info.next_scanline < j->info.image_height) {
                JSAMPROW row = const_cast<unsigned char*>(j->pixels) + stride * j->info.next_scanline;
                jpeg_write_scanlines(&j->info, &row, 1);
            }
            jpeg_finish_compress(&j->info);
        },
        &job);
    jpeg_destroy_compress(&job.info);
    if (!written) throw std::runtime_error(path.string() + ": cannot write JPEG (" + errors.message + ")");
    closeWrittenFile(file, path);
}
