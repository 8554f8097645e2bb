// Files the command's tests make with the codec libraries directly: what a
// camera or a scanner writes (EXIF orientation, progressive JPEG, palette
// TIFF, large flat pictures) and what damage looks like.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "raster.h"

// A colour profile with a valid header and no tags, for "RGB " or "GRAY"
// colours; `fill` bytes of padding make it recognisable.
std::vector<unsigned char> iccProfile(const char* colorSpace, size_t fill = 200);

struct JpegOptions {
    int exifOrientation = 0;  // 0: no EXIF block
    bool progressive = false;
    int quality = 100;
};
// 8-bit gray or RGB, full-resolution chroma.
void writeJpegFile(const std::filesystem::path& path, const Raster& image, const JpegOptions& options);

// An 8-bit palette TIFF of `width` x `height` with four colours, its
// directory first and its pixels in uncompressed strips of 8 rows; pixel
// (x, y) has colour ((x / 8) + (y / 8)) % 4.
void writePaletteTiff(const std::filesystem::path& path, int width, int height);

struct TiffOptions {
    bool planar = false;  // each channel in strips of its own
    int rowsPerStrip = 8;
    int orientation = 1;  // the TIFF orientation tag, 1 to 8
};
// 8-bit, uncompressed, as libtiff writes it.
void writeTiffFile(const std::filesystem::path& path, const Raster& image, const TiffOptions& options);

// A flat gray 8-bit TIFF, deflated in strips: large pictures in small files.
void writeFlatTiff(const std::filesystem::path& path, int width, int height, int channels = 1,
                   uint32_t rowsPerStrip = 64);

// Keeps the first `keep` bytes of the file.
void cutFile(const std::filesystem::path& path, size_t keep);

// Rewrites the size in the JPEG's frame header (SOF0 or SOF2).
void setJpegSize(const std::filesystem::path& path, int width, int height);

// Rewrites the width and length in a little-endian TIFF's first directory.
void setTiffSize(const std::filesystem::path& path, uint32_t width, uint32_t height);

// Rewrites the value of a SHORT or LONG tag of the first directory.
void setTiffTag(const std::filesystem::path& path, uint16_t tag, uint32_t value);

// Rewrites the size in the PNG's IHDR chunk, with its checksum.
void setPngSize(const std::filesystem::path& path, uint32_t width, uint32_t height);

std::vector<unsigned char> readBytes(const std::filesystem::path& path);
void writeBytes(const std::filesystem::path& path, const std::vector<unsigned char>& bytes);
