// JPEG through libjpeg-turbo: 8-bit gray and RGB (YCbCr files are converted),
// baseline or progressive. The colour profile (APP2), the JFIF density and
// the EXIF orientation (APP1, read with libexif) come along.
#include <cstdio>
// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>
// jerror.h's codes depend on what jpeglib.h configures.
#include <jerror.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
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

// Warnings that mean the data is cut short or damaged: libjpeg would go on
// and fill the missing rows in, the command refuses the file instead.
bool meansDamage(int code) {
    switch (code) {
        case JWRN_JPEG_EOF:
        case JWRN_HIT_MARKER:
        case JWRN_EXTRANEOUS_DATA:
        case JWRN_MUST_RESYNC:
        case JWRN_NOT_SEQUENTIAL:
        case JWRN_HUFF_BAD_CODE:
        case JWRN_ARITH_BAD_CODE:
        case JWRN_BOGUS_PROGRESSION: return true;
    }
    return false;
}

void onMessage(j_common_ptr info, int level) {
    if (level == -1 && meansDamage(info->err->msg_code)) onError(info);
}

template <typename Job>
bool guarded(ErrorManager& errors, void (*step)(Job*), Job* job) {
    if (setjmp(errors.jump)) return false;
    step(job);
    return true;
}

void initErrors(ErrorManager& errors) {
    jpeg_std_error(&errors.base);
    errors.base.error_exit = onError;
    errors.base.emit_message = onMessage;
    errors.message[0] = '\0';
}

// Huffman coding spends at least one bit on every 8 x 8 block; arithmetic
// coding can spend far less on flat areas.
constexpr uint64_t kMaxPixelsPerByteHuffman = 1024;
constexpr uint64_t kMaxPixelsPerByteArithmetic = 65536;

// Owns the decoder once created: destroyed with it, also when the reader's
// constructor refuses the file (the reader's own destructor then never runs).
struct Decompress {
    jpeg_decompress_struct info;
    std::FILE* file;
    JSAMPROW row;
    bool created;
    ~Decompress() {
        if (created) jpeg_destroy_decompress(&info);
    }
};

class JpegReader final : public ImageReader {
public:
    JpegReader(const std::filesystem::path& path, uint64_t fileSize) : path(path), file(openFile(path, "rb")) {
        initErrors(errors);
        job.info.err = &errors.base;
        job.file = file.get();
        jpeg_create_decompress(&job.info);
        job.created = true;
        const bool headerRead = guarded<Decompress>(
            errors,
            [](Decompress* j) {
                jpeg_stdio_src(&j->info, j->file);
                jpeg_save_markers(&j->info, JPEG_APP0 + 1, 0xFFFF);  // EXIF
                jpeg_save_markers(&j->info, JPEG_APP0 + 2, 0xFFFF);  // ICC profile
                jpeg_read_header(&j->info, TRUE);
            },
            &job);
        if (!headerRead)
            throw std::runtime_error(path.string() + ": not a readable JPEG image (" + errors.message + ")");
        jpeg_decompress_struct& c = job.info;
        checkDeclaredSize(path, c.image_width, c.image_height);
        const uint64_t pixels = static_cast<uint64_t>(c.image_width) * c.image_height;
        const uint64_t perByte = c.arith_code ? kMaxPixelsPerByteArithmetic : kMaxPixelsPerByteHuffman;
        if (pixels > perByte * fileSize + (1u << 20))
            throw std::runtime_error(path.string() + ": the file declares " + std::to_string(c.image_width) + " x " +
                                     std::to_string(c.image_height) + " pixels, more than its " +
                                     std::to_string(fileSize) + " bytes can hold; it is damaged");
        // Progressive files keep every coefficient: two bytes a sample, and
        // never more than the declared size needs.
        c.mem->max_memory_to_use = static_cast<long>(std::min<uint64_t>(
            pixels * static_cast<uint64_t>(std::max(c.num_components, 1)) * 3 + (64u << 20), 1ull << 40));

        const bool gray = c.jpeg_color_space == JCS_GRAYSCALE;
        if (!gray && c.num_components != 3)
            throw std::runtime_error(path.string() + ": JPEG with " + std::to_string(c.num_components) +
                                     " colour components (CMYK?) is not supported");
        c.out_color_space = gray ? JCS_GRAYSCALE : JCS_RGB;
        head.width = static_cast<int32_t>(c.image_width);
        head.height = static_cast<int32_t>(c.image_height);
        head.channels = gray ? 1 : 3;
        head.type = SampleType::UInt8;
        if (c.progressive_mode) head.decoderBytes = pixels * static_cast<uint64_t>(c.num_components) * 2;
        readPictureInfo();
    }

    void start(RowOrder order) override {
        if (order != RowOrder::TopDown)
            throw std::runtime_error(path.string() + ": JPEG rows are read from the top only");
        if (!guarded<Decompress>(
                errors, [](Decompress* j) { jpeg_start_decompress(&j->info); }, &job))
            throw damaged();
        if (static_cast<int32_t>(job.info.output_width) != head.width ||
            static_cast<int32_t>(job.info.output_height) != head.height || job.info.output_components != head.channels)
            throw std::runtime_error(path.string() + ": the decoder gives another size than the header declares");
        const size_t samples = static_cast<size_t>(head.width) * static_cast<size_t>(head.channels);
        bytes.resize(samples);
        values.resize(samples);
        job.row = bytes.data();
    }

    const float* nextRow() override {
        const bool read = guarded<Decompress>(
            errors,
            [](Decompress* j) {
                if (jpeg_read_scanlines(&j->info, &j->row, 1) != 1) ERREXIT(&j->info, JERR_INPUT_EMPTY);
            },
            &job);
        if (!read) throw damaged();
        for (size_t i = 0; i < values.size(); ++i) values[i] = bytes[i] / 255.0f;
        return values.data();
    }

    void finish() override {
        if (!guarded<Decompress>(
                errors, [](Decompress* j) { jpeg_finish_decompress(&j->info); }, &job))
            throw damaged();
    }

private:
    std::runtime_error damaged() const {
        return std::runtime_error(path.string() + ": damaged JPEG image (" + errors.message + ")");
    }

    void readPictureInfo() {
        jpeg_decompress_struct& c = job.info;
        for (jpeg_saved_marker_ptr m = c.marker_list; m; m = m->next)
            if (m->marker == JPEG_APP0 + 1 && m->data_length >= 6 && std::memcmp(m->data, "Exif\0\0", 6) == 0) {
                head.orientation = orientationFromExif(m->data, m->data_length);
                break;
            }
        JOCTET* profile = nullptr;
        unsigned int length = 0;
        if (guardedProfile(&profile, &length) && profile) {
            head.info.iccProfile.assign(profile, profile + length);
            std::free(profile);
        }
        if (c.saw_JFIF_marker && c.X_density > 0 && c.Y_density > 0) {
            const Density::Unit unit = c.density_unit == 1   ? Density::Unit::Inch
                                       : c.density_unit == 2 ? Density::Unit::Centimetre
                                                             : Density::Unit::None;
            head.info.density = {static_cast<double>(c.X_density), static_cast<double>(c.Y_density), unit};
        }
    }

    bool guardedProfile(JOCTET** profile, unsigned int* length) {
        struct ProfileJob {
            j_decompress_ptr info;
            JOCTET** profile;
            unsigned int* length;
        } p{&job.info, profile, length};
        return guarded<ProfileJob>(
            errors, [](ProfileJob* j) { jpeg_read_icc_profile(j->info, j->profile, j->length); }, &p);
    }

    std::filesystem::path path;
    FileHandle file;
    ErrorManager errors;
    Decompress job{};
    std::vector<unsigned char> bytes;
    std::vector<float> values;
};

struct Compress {
    jpeg_compress_struct info;
    std::FILE* file;
    const ImageToWrite* toWrite;
    JSAMPROW row;
};

// JFIF holds whole numbers up to 65535 per inch or per centimetre: per inch
// when the value is close to a whole number of dots per inch (72.009 from a
// PNG's 2835 per metre), per centimetre otherwise.
void setDensity(jpeg_compress_struct& c, const Density& d) {
    if (!d.known()) return;
    auto fit = [](double v) { return static_cast<UINT16>(std::clamp(std::lround(v), 1L, 65535L)); };
    if (d.unit == Density::Unit::None) {
        c.density_unit = 0;
        c.X_density = fit(d.x);
        c.Y_density = fit(d.y);
        return;
    }
    const double inchX = d.perInch(d.x), inchY = d.perInch(d.y);
    const bool wholeInches = std::abs(inchX - std::round(inchX)) < 0.05 && std::abs(inchY - std::round(inchY)) < 0.05;
    if (d.unit == Density::Unit::Inch || wholeInches) {
        c.density_unit = 1;
        c.X_density = fit(inchX);
        c.Y_density = fit(inchY);
    } else {
        c.density_unit = 2;
        c.X_density = fit(d.x);
        c.Y_density = fit(d.y);
    }
}

}  // namespace

std::unique_ptr<ImageReader> openJpeg(const std::filesystem::path& path, uint64_t fileSize) {
    return std::make_unique<JpegReader>(path, fileSize);
}

void writeJpeg(const std::filesystem::path& path, const ImageToWrite& toWrite, const RowSource& source) {
    if (toWrite.channels != 1 && toWrite.channels != 3)
        throw std::runtime_error(path.string() + ": JPEG holds gray or RGB, the image has " +
                                 std::to_string(toWrite.channels) + " channels");
    const size_t samples = static_cast<size_t>(toWrite.width) * static_cast<size_t>(toWrite.channels);
    std::vector<float> values(samples);
    std::vector<unsigned char> bytes(samples);

    FileHandle file = openFile(path, "wb");
    ErrorManager errors;
    initErrors(errors);
    Compress job{};
    job.info.err = &errors.base;
    job.file = file.get();
    job.toWrite = &toWrite;
    job.row = bytes.data();
    jpeg_create_compress(&job.info);
    struct Destroy {
        jpeg_compress_struct* info;
        ~Destroy() { jpeg_destroy_compress(info); }
    } destroy{&job.info};
    const bool started = guarded<Compress>(
        errors,
        [](Compress* j) {
            const ImageToWrite& s = *j->toWrite;
            jpeg_stdio_dest(&j->info, j->file);
            j->info.image_width = static_cast<JDIMENSION>(s.width);
            j->info.image_height = static_cast<JDIMENSION>(s.height);
            j->info.input_components = s.channels;
            j->info.in_color_space = s.channels == 1 ? JCS_GRAYSCALE : JCS_RGB;
            jpeg_set_defaults(&j->info);
            jpeg_set_quality(&j->info, s.jpegQuality, TRUE);
            // Full-resolution colour at high quality: chroma subsampling would
            // blur exactly the detail that image models restore.
            if (s.jpegQuality >= 90)
                for (int c = 0; c < j->info.num_components; ++c)
                    j->info.comp_info[c].h_samp_factor = j->info.comp_info[c].v_samp_factor = 1;
            setDensity(j->info, s.info.density);
            jpeg_start_compress(&j->info, TRUE);
            if (!s.info.iccProfile.empty())
                jpeg_write_icc_profile(&j->info, s.info.iccProfile.data(),
                                       static_cast<unsigned>(s.info.iccProfile.size()));
        },
        &job);
    if (!started) throw std::runtime_error(path.string() + ": cannot write JPEG (" + errors.message + ")");
    for (int32_t y = 0; y < toWrite.height; ++y) {
        source(y, values.data());
        for (size_t i = 0; i < samples; ++i) bytes[i] = static_cast<unsigned char>(quantize(values[i], 8));
        if (!guarded<Compress>(
                errors, [](Compress* j) { jpeg_write_scanlines(&j->info, &j->row, 1); }, &job))
            throw std::runtime_error(path.string() + ": cannot write JPEG (" + errors.message + ")");
    }
    if (!guarded<Compress>(
            errors, [](Compress* j) { jpeg_finish_compress(&j->info); }, &job))
        throw std::runtime_error(path.string() + ": cannot write JPEG (" + errors.message + ")");
    closeWrittenFile(file, path);
}
