// libFuzzer harness over one of the command's image readers (PNG, JPEG or
// TIFF, chosen when built by VELMORA_FUZZ_FORMAT 0, 1 or 2). The fuzzed bytes
// are written to a file, as the readers take paths, then read the ways the
// command reads them. Besides the sanitizers: a refusal is a
// std::runtime_error and nothing else, a header keeps within the stated
// limits, rows arrive once each from the top, integer samples lie in [0, 1],
// and a small picture written losslessly (PNG, or TIFF for float samples)
// reads back the same.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#if VELMORA_FUZZ_FORMAT == 0
#include <zlib.h>
#endif

#include "channels.h"
#include "fuzz_support.h"
#include "image_files.h"
#include "model_input.h"

namespace {

// What the harness reads whole; larger pictures get their header checked
// and a first row, so that one input cannot take seconds.
constexpr int64_t kReadLimit = int64_t{1} << 22;
constexpr int64_t kRoundTripPixels = 4096;

#if VELMORA_FUZZ_FORMAT == 0
constexpr const char* kFileName = "picture.png";
std::unique_ptr<ImageReader> open(const std::filesystem::path& p, uint64_t size) { return openPng(p, size); }

// libpng checks every chunk's checksum, which the mutator does not keep
// right, so most inputs would end at their first chunk. The harness puts the
// checksums right, but for one input in five, so that wrong ones are read too.
void fixChecksums(std::vector<uint8_t>& png) {
    if (png.size() % 5 == 0) return;
    size_t at = 8;  // after the signature
    while (at + 12 <= png.size()) {
        const uint32_t length =
            (uint32_t{png[at]} << 24) | (uint32_t{png[at + 1]} << 16) | (uint32_t{png[at + 2]} << 8) | png[at + 3];
        if (length > png.size() - at - 12) break;
        const uLong crc = crc32(crc32(0L, Z_NULL, 0), png.data() + at + 4, length + 4);
        for (int i = 0; i < 4; ++i) png[at + 8 + length + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
        at += 12 + length;
    }
}
#elif VELMORA_FUZZ_FORMAT == 1
constexpr const char* kFileName = "picture.jpg";
std::unique_ptr<ImageReader> open(const std::filesystem::path& p, uint64_t size) { return openJpeg(p, size); }
#elif VELMORA_FUZZ_FORMAT == 2
constexpr const char* kFileName = "picture.tif";
std::unique_ptr<ImageReader> open(const std::filesystem::path& p, uint64_t size) { return openTiff(p, size); }
#else
#error "VELMORA_FUZZ_FORMAT must be 0 (PNG), 1 (JPEG) or 2 (TIFF)"
#endif

void check(bool ok, const std::string& what) {
    if (!ok) finding(what);
}

void checkHeader(const ImageHeader& h) {
    check(h.width >= 1 && h.width <= kMaxImageSide && h.height >= 1 && h.height <= kMaxImageSide,
          "the header passed with " + std::to_string(h.width) + " x " + std::to_string(h.height) + " pixels");
    check(int64_t{h.width} * h.height <= kMaxImagePixels, "the header passed with more pixels than the limit");
    check(h.channels >= 1 && h.channels <= 4, "the header passed with " + std::to_string(h.channels) + " channels");
}

// Reads every row through the reader's own interface and checks the order.
void readEveryRow(ImageReader& reader, int32_t stopAfter) {
    const ImageHeader& h = reader.header();
    const size_t samples = static_cast<size_t>(h.width) * static_cast<size_t>(h.channels);
    int32_t next = 0;
    struct Enough {};
    try {
        reader.readRows([&](int32_t y, const float* row) {
            check(y == next, "row " + std::to_string(y) + " arrived where row " + std::to_string(next) + " was due");
            ++next;
            for (size_t i = 0; i < samples; ++i)
                check(h.type == SampleType::Float32 || (row[i] >= 0.0f && row[i] <= 1.0f),
                      "an integer sample read as " + std::to_string(row[i]));
            if (next == stopAfter) throw Enough{};
        });
    } catch (const Enough&) {
        return;
    }
    check(next == h.height, std::to_string(next) + " rows of " + std::to_string(h.height) + " arrived");
}

bool sameBits(const Raster& a, const Raster& b) {
    return a.width == b.width && a.height == b.height && a.channels == b.channels && a.type == b.type &&
           a.pixels.size() == b.pixels.size() &&
           std::memcmp(a.pixels.data(), b.pixels.data(), a.pixels.size() * sizeof(float)) == 0;
}

void roundTrip(const std::filesystem::path& path) {
    const Raster image = readImage(path);
    const FileFormat format = image.type == SampleType::Float32 ? FileFormat::Tiff : FileFormat::Png;
    const std::filesystem::path copy = scratchFolder() / (format == FileFormat::Png ? "copy.png" : "copy.tif");
    writeImage(copy, format, image, WriteSettings(image.type));
    const Raster back = readImage(copy);
    check(sameBits(image, back), "a picture written losslessly did not read back the same");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    scratchFolder();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::filesystem::path path = scratchFolder() / kFileName;
    std::vector<uint8_t> bytes(data, data + size);
#if VELMORA_FUZZ_FORMAT == 0
    fixChecksums(bytes);
#endif
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(size));
    }
    try {
        std::unique_ptr<ImageReader> reader = open(path, size);
        const ImageHeader& h = reader->header();
        checkHeader(h);
        const int64_t values = int64_t{h.width} * h.height * h.channels;
        if (values > kReadLimit) {
            readEveryRow(*reader, 1);
            return 0;
        }
        // The three ways the command reads, chosen by the input's length.
        switch (size % 3) {
            case 0: readEveryRow(*reader, -1); break;
            case 1: {
                static const int32_t modelChannels[] = {0, 1, 3, 4};
                const ChannelFit fit(h.channels, modelChannels[size / 3 % 4]);
                const bool bytes = size / 12 % 2;
                readModelInput(*reader, fit, bytes ? InputKind::Bytes : InputKind::Floats, ChannelMap());
                break;
            }
            default: {
                const int64_t pixels = int64_t{h.width} * h.height;
                reader.reset();  // the file is read again, whole
                if (pixels <= kRoundTripPixels) roundTrip(path);
                break;
            }
        }
    } catch (const std::runtime_error& e) {
        // Refused with words, as the command reports it.
        static const bool verbose = std::getenv("VELMORA_FUZZ_VERBOSE") != nullptr;
        if (verbose) std::fprintf(stderr, "refused: %s\n", e.what());
    }
    return 0;
}
