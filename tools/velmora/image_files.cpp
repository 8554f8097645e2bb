#include "image_files.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <fstream>
#include <random>

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

Raster readImage(const fs::path& path) {
    std::error_code ec;
    if (!fs::exists(path, ec)) throw std::runtime_error(path.string() + ": no such file");
    if (fs::is_directory(path, ec)) throw std::runtime_error(path.string() + ": is a folder, not an image");
    std::array<unsigned char, 4> magic{};
    {
        std::ifstream in(path, std::ios::binary);
        if (!in) throw std::runtime_error(path.string() + ": cannot be opened for reading");
        in.read(reinterpret_cast<char*>(magic.data()), magic.size());
    }
    if (magic[0] == 0x89 && magic[1] == 'P' && magic[2] == 'N' && magic[3] == 'G') return readPng(path);
    if (magic[0] == 0xFF && magic[1] == 0xD8 && magic[2] == 0xFF) return readJpeg(path);
    if ((magic[0] == 'I' && magic[1] == 'I' && magic[2] == 42 && magic[3] == 0) ||
        (magic[0] == 'M' && magic[1] == 'M' && magic[2] == 0 && magic[3] == 42))
        return readTiff(path);
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

namespace {

Raster withoutAlpha(const Raster& image) {
    const int32_t kept = image.channels == 4 ? 3 : 1;
    Raster out = makeRaster(image.width, image.height, kept, image.type);
    for (size_t p = 0; p < pixelCount(image); ++p)
        for (int32_t c = 0; c < kept; ++c) out.pixels[p * kept + c] = image.pixels[p * image.channels + c];
    return out;
}

fs::path temporaryBeside(const fs::path& path) {
    std::random_device random;
    const std::string suffix = std::to_string(random() % 1000000);
    return path.parent_path() / ("." + path.filename().string() + ".partial-" + suffix);
}

}  // namespace

void writeImage(const fs::path& path, FileFormat format, const Raster& image, const WriteSettings& settings) {
    if (storableType(format, settings.type) != settings.type)
        throw std::runtime_error(path.string() + ": the format cannot hold " + sampleTypeName(settings.type) +
                                 " samples");
    const fs::path temporary = temporaryBeside(path);
    try {
        switch (format) {
            case FileFormat::Png: writePng(temporary, image, settings.type); break;
            case FileFormat::Jpeg:
                writeJpeg(temporary, image.channels == 2 || image.channels == 4 ? withoutAlpha(image) : image,
                          settings.jpegQuality);
                break;
            case FileFormat::Tiff: writeTiff(temporary, image, settings.type); break;
        }
        fs::rename(temporary, path);
    } catch (const fs::filesystem_error& e) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        throw std::runtime_error(path.string() + ": " + e.code().message());
    } catch (const std::runtime_error& e) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        // The codecs name the temporary file; the user knows the real one.
        std::string text = e.what();
        const std::string temp = temporary.string();
        if (text.compare(0, temp.size(), temp) == 0) text = path.string() + text.substr(temp.size());
        throw std::runtime_error(text);
    }
}
