// Pictures for scripts/stream_check.sh, a row at a time so that none is
// ever held whole:
//   stream_picture write WIDTH HEIGHT OUT.png       8-bit RGB with detail everywhere
//   stream_picture crop IN.png X Y W H OUT.png      a piece of a PNG, as 8-bit PNG
//   stream_picture digest IN.png [X Y W H]          FNV-1a of a piece's samples, as stored
#include <png.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct Reader {
    FILE* file = nullptr;
    png_structp png = nullptr;
    png_infop info = nullptr;
    uint32_t width = 0, height = 0;
    size_t rowBytes = 0;

    explicit Reader(const char* path) {
        file = std::fopen(path, "rb");
        if (!file) throw std::runtime_error(std::string(path) + ": cannot open");
        png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        info = png_create_info_struct(png);
        if (setjmp(png_jmpbuf(png))) throw std::runtime_error(std::string(path) + ": damaged PNG");
        png_init_io(png, file);
        png_set_user_limits(png, 0x7fffffff, 0x7fffffff);
        png_read_info(png, info);
        if (png_get_interlace_type(png, info) != PNG_INTERLACE_NONE)
            throw std::runtime_error(std::string(path) + ": interlaced");
        width = png_get_image_width(png, info);
        height = png_get_image_height(png, info);
        rowBytes = png_get_rowbytes(png, info);
    }
    void row(png_bytep into) {
        if (setjmp(png_jmpbuf(png))) throw std::runtime_error("damaged PNG");
        png_read_row(png, into, nullptr);
    }
    int channels() const { return png_get_channels(png, info); }
    int bytesPerSample() const { return png_get_bit_depth(png, info) == 16 ? 2 : 1; }
    ~Reader() {
        png_destroy_read_struct(&png, &info, nullptr);
        if (file) std::fclose(file);
    }
};

struct Writer {
    FILE* file = nullptr;
    png_structp png = nullptr;
    png_infop info = nullptr;
    Writer(const char* path, uint32_t width, uint32_t height, int colorType, int depth) {
        file = std::fopen(path, "wb");
        if (!file) throw std::runtime_error(std::string(path) + ": cannot write");
        png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        info = png_create_info_struct(png);
        if (setjmp(png_jmpbuf(png))) throw std::runtime_error(std::string(path) + ": cannot write");
        png_init_io(png, file);
        png_set_compression_level(png, 1);
        png_set_IHDR(png, info, width, height, depth, colorType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                     PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
    }
    void row(png_bytep from) {
        if (setjmp(png_jmpbuf(png))) throw std::runtime_error("cannot write");
        png_write_row(png, from);
    }
    ~Writer() {
        if (!setjmp(png_jmpbuf(png))) png_write_end(png, info);
        png_destroy_write_struct(&png, &info);
        if (file) std::fclose(file);
    }
};

uint32_t hashed(uint32_t v) {
    v ^= v >> 16;
    v *= 0x7feb352du;
    v ^= v >> 15;
    v *= 0x846ca68bu;
    return v ^ (v >> 16);
}

// Gradients, rings and a little noise: no run of equal rows or samples.
void write(const char* path, uint32_t width, uint32_t height) {
    Writer out(path, width, height, PNG_COLOR_TYPE_RGB, 8);
    std::vector<png_byte> row(static_cast<size_t>(width) * 3);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const uint32_t noise = hashed(y * 2654435761u + x);
            const uint32_t ring = ((x / 7) ^ (y / 11)) & 63;
            row[x * 3 + 0] = static_cast<png_byte>((x * 255ull / width + (noise & 15)) & 255);
            row[x * 3 + 1] = static_cast<png_byte>((y * 255ull / height + ring) & 255);
            row[x * 3 + 2] = static_cast<png_byte>((ring * 3 + (noise >> 8 & 31)) & 255);
        }
        out.row(row.data());
    }
}

void crop(const char* path, uint32_t x0, uint32_t y0, uint32_t w, uint32_t h, const char* outPath) {
    Reader in(path);
    if (in.bytesPerSample() != 1 || in.channels() != 3) throw std::runtime_error("crop takes 8-bit RGB");
    Writer out(outPath, w, h, PNG_COLOR_TYPE_RGB, 8);
    std::vector<png_byte> row(in.rowBytes);
    for (uint32_t y = 0; y < y0 + h; ++y) {
        in.row(row.data());
        if (y >= y0) out.row(row.data() + static_cast<size_t>(x0) * 3);
    }
}

void digest(const char* path, uint32_t x0, uint32_t y0, uint32_t w, uint32_t h) {
    Reader in(path);
    if (w == 0) w = in.width, h = in.height;
    const size_t pixel = static_cast<size_t>(in.channels()) * in.bytesPerSample();
    std::vector<png_byte> row(in.rowBytes);
    uint64_t fnv = 1469598103934665603ull;
    for (uint32_t y = 0; y < y0 + h; ++y) {
        in.row(row.data());
        if (y < y0) continue;
        for (size_t i = x0 * pixel; i < (x0 + static_cast<size_t>(w)) * pixel; ++i)
            fnv = (fnv ^ row[i]) * 1099511628211ull;
    }
    std::printf("%016" PRIx64 "\n", fnv);
}

uint32_t number(const char* text) { return static_cast<uint32_t>(std::strtoul(text, nullptr, 10)); }

}  // namespace

int main(int argc, char** argv) {
    try {
        const std::string what = argc > 1 ? argv[1] : "";
        if (what == "write" && argc == 5) {
            write(argv[4], number(argv[2]), number(argv[3]));
        } else if (what == "crop" && argc == 8) {
            crop(argv[2], number(argv[3]), number(argv[4]), number(argv[5]), number(argv[6]), argv[7]);
        } else if (what == "digest" && (argc == 3 || argc == 7)) {
            if (argc == 3)
                digest(argv[2], 0, 0, 0, 0);
            else
                digest(argv[2], number(argv[3]), number(argv[4]), number(argv[5]), number(argv[6]));
        } else {
            std::fprintf(stderr, "usage: see the top of stream_picture.cpp\n");
            return 2;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "stream_picture: %s\n", e.what());
        return 1;
    }
    return 0;
}
