#include "test_files.h"

#include <cstdio>
// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>
#include <libexif/exif-data.h>
#include <tiffio.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace fs = std::filesystem;

std::vector<unsigned char> readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const fs::path& path, const std::vector<unsigned char>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

namespace {

void putBig32(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}

uint32_t crc32(const unsigned char* data, size_t size) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

}  // namespace

std::vector<unsigned char> iccProfile(const char* colorSpace, size_t fill) {
    std::vector<unsigned char> p(132 + fill, 0);
    putBig32(p.data(), static_cast<uint32_t>(p.size()));
    std::memcpy(p.data() + 4, "none", 4);
    putBig32(p.data() + 8, 0x02100000);  // version 2.1
    std::memcpy(p.data() + 12, "mntr", 4);
    std::memcpy(p.data() + 16, colorSpace, 4);
    std::memcpy(p.data() + 20, "XYZ ", 4);
    std::memcpy(p.data() + 36, "acsp", 4);
    putBig32(p.data() + 68, 0x0000F6D6);  // D50
    putBig32(p.data() + 72, 0x00010000);
    putBig32(p.data() + 76, 0x0000D32D);
    putBig32(p.data() + 128, 0);  // no tags
    for (size_t i = 0; i < fill; ++i) p[132 + i] = static_cast<unsigned char>(i * 7 + 1);
    return p;
}

void writeJpegFile(const fs::path& path, const Raster& image, const JpegOptions& options) {
    std::FILE* file = std::fopen(path.string().c_str(), "wb");
    if (!file) throw std::runtime_error("cannot write " + path.string());
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, file);
    info.image_width = static_cast<JDIMENSION>(image.width);
    info.image_height = static_cast<JDIMENSION>(image.height);
    info.input_components = image.channels;
    info.in_color_space = image.channels == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, options.quality, TRUE);
    for (int c = 0; c < info.num_components; ++c) info.comp_info[c].h_samp_factor = info.comp_info[c].v_samp_factor = 1;
    if (options.progressive) jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    if (options.exifOrientation) {
        ExifData* exif = exif_data_new();
        exif_data_set_byte_order(exif, EXIF_BYTE_ORDER_INTEL);
        ExifEntry* entry = exif_entry_new();
        exif_content_add_entry(exif->ifd[EXIF_IFD_0], entry);
        exif_entry_initialize(entry, EXIF_TAG_ORIENTATION);
        exif_set_short(entry->data, EXIF_BYTE_ORDER_INTEL, static_cast<ExifShort>(options.exifOrientation));
        exif_entry_unref(entry);
        unsigned char* block = nullptr;
        unsigned int length = 0;
        exif_data_save_data(exif, &block, &length);
        jpeg_write_marker(&info, JPEG_APP0 + 1, block, length);
        std::free(block);
        exif_data_unref(exif);
    }
    std::vector<unsigned char> row(static_cast<size_t>(image.width) * image.channels);
    for (int y = 0; y < image.height; ++y) {
        for (size_t i = 0; i < row.size(); ++i)
            row[i] = static_cast<unsigned char>(quantize(image.pixels[static_cast<size_t>(y) * row.size() + i], 8));
        JSAMPROW rows[] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::fclose(file);
}

void writePaletteTiff(const fs::path& path, int width, int height) {
    // Written by hand with the directory first, as many writers do, so that
    // a file cut short still has its directory and loses only pixels.
    struct Entry {
        uint16_t tag, type;
        uint32_t count, value;
    };
    const uint32_t rowsPerStrip = 8;
    const uint32_t strips = (static_cast<uint32_t>(height) + rowsPerStrip - 1) / rowsPerStrip;
    const uint32_t entries = 10, directory = 8;
    const uint32_t colormap = directory + 2 + entries * 12 + 4;
    const uint32_t offsets = colormap + 3 * 256 * 2, counts = offsets + 4 * strips;
    const uint32_t pixels = counts + 4 * strips;
    const auto w = static_cast<uint32_t>(width), h = static_cast<uint32_t>(height);
    const Entry table[entries] = {{256, 4, 1, w},
                                  {257, 4, 1, h},
                                  {258, 3, 1, 8},
                                  {259, 3, 1, 1},
                                  {262, 3, 1, 3},
                                  {273, 4, strips, strips == 1 ? pixels : offsets},
                                  {277, 3, 1, 1},
                                  {278, 4, 1, rowsPerStrip},
                                  {279, 4, strips, strips == 1 ? w * h : counts},
                                  {320, 3, 768, colormap}};
    std::vector<unsigned char> out{'I', 'I', 42, 0};
    auto put16 = [&](uint32_t v) { out.push_back(v & 0xFF), out.push_back(v >> 8 & 0xFF); };
    auto put32 = [&](uint32_t v) { put16(v & 0xFFFF), put16(v >> 16); };
    put32(directory);
    put16(entries);
    for (const Entry& e : table) {
        put16(e.tag), put16(e.type), put32(e.count);
        if (e.type == 3 && e.count == 1)
            put16(e.value), put16(0);
        else
            put32(e.value);
    }
    put32(0);  // no next directory
    const uint16_t colours[4][3] = {{65535, 0, 0}, {0, 65535, 0}, {0, 0, 65535}, {65535, 65535, 65535}};
    for (int channel = 0; channel < 3; ++channel)
        for (int k = 0; k < 256; ++k) put16(k < 4 ? colours[k][channel] : 0);
    for (uint32_t k = 0; k < strips; ++k) put32(pixels + k * rowsPerStrip * w);
    for (uint32_t k = 0; k < strips; ++k) put32(std::min(rowsPerStrip, h - k * rowsPerStrip) * w);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) out.push_back(static_cast<unsigned char>((x / 8 + y / 8) % 4));
    writeBytes(path, out);
}

void writeTiffFile(const fs::path& path, const Raster& image, const TiffOptions& options) {
    TIFF* tiff = TIFFOpen(path.string().c_str(), "w");
    if (!tiff) throw std::runtime_error("cannot write " + path.string());
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(image.width));
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(image.height));
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, static_cast<uint16_t>(image.channels));
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, image.channels >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, options.planar ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(options.rowsPerStrip));
    TIFFSetField(tiff, TIFFTAG_ORIENTATION, static_cast<uint16_t>(options.orientation));
    const size_t channels = static_cast<size_t>(image.channels);
    std::vector<unsigned char> row(static_cast<size_t>(image.width) * (options.planar ? 1 : channels));
    for (size_t plane = 0; plane < (options.planar ? channels : 1); ++plane)
        for (int y = 0; y < image.height; ++y) {
            for (int x = 0; x < image.width; ++x)
                for (size_t c = 0; c < (options.planar ? 1 : channels); ++c)
                    row[x * (options.planar ? 1 : channels) + c] = static_cast<unsigned char>(
                        quantize(image.pixels[(static_cast<size_t>(y) * image.width + x) * channels + plane + c], 8));
            TIFFWriteScanline(tiff, row.data(), static_cast<uint32_t>(y), static_cast<uint16_t>(plane));
        }
    TIFFClose(tiff);
}

void writeFlatTiff(const fs::path& path, int width, int height, int channels, uint32_t rowsPerStrip) {
    TIFF* tiff = TIFFOpen(path.string().c_str(), "w");
    if (!tiff) throw std::runtime_error("cannot write " + path.string());
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(width));
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(height));
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, static_cast<uint16_t>(channels));
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, channels >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
    std::vector<unsigned char> row(static_cast<size_t>(width) * channels, 128);
    for (int y = 0; y < height; ++y) TIFFWriteScanline(tiff, row.data(), static_cast<uint32_t>(y), 0);
    TIFFClose(tiff);
}

void cutFile(const fs::path& path, size_t keep) {
    std::vector<unsigned char> bytes = readBytes(path);
    bytes.resize(std::min(keep, bytes.size()));
    writeBytes(path, bytes);
}

void setJpegSize(const fs::path& path, int width, int height) {
    std::vector<unsigned char> bytes = readBytes(path);
    for (size_t i = 2; i + 9 < bytes.size(); ++i) {
        if (bytes[i] != 0xFF || (bytes[i + 1] != 0xC0 && bytes[i + 1] != 0xC2)) continue;
        bytes[i + 5] = static_cast<unsigned char>(height >> 8);
        bytes[i + 6] = static_cast<unsigned char>(height);
        bytes[i + 7] = static_cast<unsigned char>(width >> 8);
        bytes[i + 8] = static_cast<unsigned char>(width);
        writeBytes(path, bytes);
        return;
    }
    throw std::runtime_error(path.string() + ": no frame header");
}

void setTiffTag(const fs::path& path, uint16_t wanted, uint32_t value) {
    std::vector<unsigned char> bytes = readBytes(path);
    const uint32_t directory = bytes[4] | bytes[5] << 8 | bytes[6] << 16 | static_cast<uint32_t>(bytes[7]) << 24;
    const unsigned entries = bytes[directory] | bytes[directory + 1] << 8;
    for (unsigned k = 0; k < entries; ++k) {
        unsigned char* e = bytes.data() + directory + 2 + 12 * k;
        const unsigned tag = e[0] | e[1] << 8, type = e[2] | e[3] << 8;
        if (tag != wanted) continue;
        if (type == 3 && value > 0xFFFF)
            throw std::runtime_error(path.string() + ": value does not fit the tag's type");
        for (int i = 0; i < (type == 3 ? 2 : 4); ++i) e[8 + i] = static_cast<unsigned char>(value >> (8 * i));
        writeBytes(path, bytes);
        return;
    }
    throw std::runtime_error(path.string() + ": no tag " + std::to_string(wanted));
}

void setTiffSize(const fs::path& path, uint32_t width, uint32_t height) {
    setTiffTag(path, 256, width);
    setTiffTag(path, 257, height);
}

void setPngSize(const fs::path& path, uint32_t width, uint32_t height) {
    std::vector<unsigned char> bytes = readBytes(path);
    // Signature (8), length (4), "IHDR" at 12, data at 16, checksum after 13 bytes of data.
    putBig32(bytes.data() + 16, width);
    putBig32(bytes.data() + 20, height);
    putBig32(bytes.data() + 29, crc32(bytes.data() + 12, 17));
    writeBytes(path, bytes);
}
