#include "image_files.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <fstream>

#include "output_file.h"

namespace fs = std::filesystem;

FileFormat formatForExtension(const fs::path& path) {
    std::string ext = path.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    if (ext == ".png") return FileFormat::Png;
    if (ext == ".jpg" || ext == ".jpeg") return FileFormat::Jpeg;
    if (ext == ".tif" || ext == ".tiff") return FileFormat::Tiff;
    throw std::runtime_error(path.string() + ": unknown image format \"" + ext +
                             "\" (use .png, .jpg, .jpeg, .tif or .tiff)");
}

void checkDeclaredSize(const fs::path& path, int64_t width, int64_t height) {
    if (width <= 0 || height <= 0)
        throw std::runtime_error(path.string() + ": the file declares an empty image (" + std::to_string(width) +
                                 " x " + std::to_string(height) + ")");
    if (width > kMaxImageSide || height > kMaxImageSide || width * height > kMaxImagePixels)
        throw std::runtime_error(path.string() + ": the file declares " + std::to_string(width) + " x " +
                                 std::to_string(height) + " pixels, beyond what the command reads (" +
                                 std::to_string(kMaxImageSide) + " pixels a side, " +
                                 std::to_string(kMaxImagePixels >> 20) + " megapixels in all)");
}

std::unique_ptr<ImageReader> openImage(const fs::path& path) {
    std::error_code ec;
    if (!fs::exists(path, ec)) throw std::runtime_error(path.string() + ": no such file");
    if (fs::is_directory(path, ec)) throw std::runtime_error(path.string() + ": is a folder, not an image");
    const uint64_t size = fs::file_size(path, ec);
    if (ec) throw std::runtime_error(path.string() + ": " + ec.message());
    std::array<unsigned char, 4> magic{};
    {
        std::ifstream in(path, std::ios::binary);
        if (!in) throw std::runtime_error(path.string() + ": cannot be opened for reading");
        in.read(reinterpret_cast<char*>(magic.data()), magic.size());
    }
    if (magic[0] == 0x89 && magic[1] == 'P' && magic[2] == 'N' && magic[3] == 'G') return openPng(path, size);
    if (magic[0] == 0xFF && magic[1] == 0xD8 && magic[2] == 0xFF) return openJpeg(path, size);
    if ((magic[0] == 'I' && magic[1] == 'I' && magic[2] == 42 && magic[3] == 0) ||
        (magic[0] == 'M' && magic[1] == 'M' && magic[2] == 0 && magic[3] == 42))
        return openTiff(path, size);
    throw std::runtime_error(path.string() + ": not a PNG, JPEG or TIFF image");
}

SampleType storableType(FileFormat format, SampleType wanted) {
    switch (format) {
        case FileFormat::Png: return wanted == SampleType::UInt8 ? SampleType::UInt8 : SampleType::UInt16;
        case FileFormat::Jpeg: return SampleType::UInt8;
        case FileFormat::Tiff: return wanted;
    }
    return wanted;
}

bool profileFits(const std::vector<unsigned char>& profile, int32_t channels) {
    if (profile.size() < 132) return false;
    const bool gray = std::memcmp(profile.data() + 16, "GRAY", 4) == 0;
    const bool rgb = std::memcmp(profile.data() + 16, "RGB ", 4) == 0;
    const int32_t color = channels == 2 || channels == 4 ? channels - 1 : channels;
    return (gray && color == 1) || (rgb && color == 3);
}

void ImageReader::readRows(const RowSink& sink) {
    start(RowOrder::TopDown);
    for (int32_t y = 0; y < head.height; ++y) sink(y, nextRow());
    finish();
}

void writeImageRows(const fs::path& path, FileFormat format, const ImageToWrite& given, const RowSource& source) {
    if (storableType(format, given.type) != given.type)
        throw std::runtime_error(path.string() + ": the format cannot hold " + sampleTypeName(given.type) + " samples");
    ImageToWrite toWrite = given;
    if (!profileFits(toWrite.info.iccProfile, toWrite.channels)) toWrite.info.iccProfile.clear();
    OutputFile file(path);
    const fs::path& temporary = file.writePath();
    try {
        switch (format) {
            case FileFormat::Png: writePng(temporary, toWrite, source); break;
            case FileFormat::Jpeg: writeJpeg(temporary, toWrite, source); break;
            case FileFormat::Tiff: writeTiff(temporary, toWrite, source); break;
        }
    } catch (const fs::filesystem_error& e) {
        throw std::runtime_error(path.string() + ": " + e.code().message());
    } catch (const std::runtime_error& e) {
        // The codecs name the temporary file; the user knows the real one.
        // Anything else (an interrupted run's stop among them) passes as it is.
        const std::string text = e.what(), temp = temporary.string();
        if (text.compare(0, temp.size(), temp) != 0) throw;
        throw std::runtime_error(path.string() + text.substr(temp.size()));
    }
    file.commit();
}

Raster readImage(const fs::path& path, PictureInfo* info) {
    const std::unique_ptr<ImageReader> reader = openImage(path);
    const ImageHeader& h = reader->header();
    const bool swap = swapsSides(h.orientation);
    Raster image = makeRaster(swap ? h.height : h.width, swap ? h.width : h.height, h.channels, h.type);
    const Placement place = placement(h.orientation, h.width, h.height);
    const size_t channels = static_cast<size_t>(h.channels);
    reader->readRows([&](int32_t y, const float* samples) {
        for (int32_t x = 0; x < h.width; ++x)
            std::copy_n(samples + static_cast<size_t>(x) * channels, channels,
                        image.pixels.data() + static_cast<size_t>(place.at(x, y)) * channels);
    });
    if (info) {
        *info = h.info;
        if (swap) std::swap(info->density.x, info->density.y);
    }
    return image;
}

void writeImage(const fs::path& path, FileFormat format, const Raster& image, const WriteSettings& settings) {
    const bool dropAlpha = format == FileFormat::Jpeg && (image.channels == 2 || image.channels == 4);
    ImageToWrite toWrite{image.width,   image.height,         dropAlpha ? image.channels - 1 : image.channels,
                         settings.type, settings.jpegQuality, settings.info};
    const size_t in = static_cast<size_t>(image.channels), out = static_cast<size_t>(toWrite.channels);
    writeImageRows(path, format, toWrite, [&](int32_t y, float* samples) {
        const float* row = image.pixels.data() + static_cast<size_t>(y) * image.width * in;
        for (int32_t x = 0; x < image.width; ++x) std::copy_n(row + x * in, out, samples + x * out);
    });
}
