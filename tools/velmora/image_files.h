// Reading and writing PNG, JPEG and TIFF images through libpng, libjpeg-turbo
// and libtiff. Every failure is a std::runtime_error whose text names the file.
#pragma once

#include <filesystem>

#include "raster.h"

enum class FileFormat { Png, Jpeg, Tiff };

// The format that an output file's extension asks for (.png, .jpg, .jpeg,
// .tif, .tiff, any case); throws for any other extension.
FileFormat formatForExtension(const std::filesystem::path& path);

// Reads a file of any of the three formats, told apart by their first bytes.
Raster readImage(const std::filesystem::path& path);

// The sample type a file of `format` is written with when `wanted` is asked
// for: PNG holds 8 and 16 bits (float becomes 16), JPEG only 8, TIFF all three.
SampleType storableType(FileFormat format, SampleType wanted);

struct WriteSettings {
    SampleType type = SampleType::UInt8;  // must be storable in the format
    int jpegQuality = 95;
};

// Writes `image` to a temporary file in the destination's folder and renames
// it over `path` only when it is complete, so that an existing file is never
// replaced by a partial one. JPEG drops an alpha channel (the caller warns).
void writeImage(const std::filesystem::path& path, FileFormat format, const Raster& image,
                const WriteSettings& settings);

// Codecs, each writing straight to the path it is given.
Raster readPng(const std::filesystem::path& path);
Raster readJpeg(const std::filesystem::path& path);
Raster readTiff(const std::filesystem::path& path);
void writePng(const std::filesystem::path& path, const Raster& image, SampleType type);
void writeJpeg(const std::filesystem::path& path, const Raster& image, int quality);
void writeTiff(const std::filesystem::path& path, const Raster& image, SampleType type);
