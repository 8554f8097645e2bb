// Reading and writing PNG, JPEG and TIFF images through libpng, libjpeg-turbo
// and libtiff, row by row, with what the picture carries besides its pixels
// (colour profile, resolution, orientation). Every failure is a
// std::runtime_error whose text names the file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "orientation.h"
#include "raster.h"

enum class FileFormat { Png, Jpeg, Tiff };

// Pixels per unit; without a unit only the aspect ratio is known.
struct Density {
    enum class Unit { None, Inch, Centimetre };
    double x = 0;
    double y = 0;
    Unit unit = Unit::None;
    bool known() const { return x > 0 && y > 0; }
    double perInch(double v) const { return unit == Unit::Centimetre ? v * 2.54 : v; }
};

// What the picture carries besides its pixels.
struct PictureInfo {
    std::vector<unsigned char> iccProfile;  // empty: none
    Density density;
};

// What a file declares before its pixels are read. Sizes are as stored;
// `orientation` says how the stored rows are turned to be upright.
struct ImageHeader {
    int32_t width = 0;
    int32_t height = 0;
    int32_t channels = 0;  // 1 gray, 2 gray + alpha, 3 RGB, 4 RGBA
    SampleType type = SampleType::UInt8;
    Orientation orientation = Orientation::Upright;
    PictureInfo info;
    uint64_t decoderBytes = 0;  // what reading holds besides a row (a whole-image decoder's buffer)
};

// One stored row: width x channels samples, integer samples scaled to [0, 1].
using RowSink = std::function<void(int32_t y, const float* samples)>;

// Which end of the stored picture its rows come from first.
enum class RowOrder { TopDown, BottomUp };

// An open image file whose header has been read and checked: its sizes are
// consistent with the file's length and within kMaxImageSide and
// kMaxImagePixels, so that no declared size can make the reader allocate
// what the file cannot fill.
class ImageReader {
public:
    virtual ~ImageReader() = default;
    const ImageHeader& header() const { return head; }
    // Whether rows come one at a time in this order; every reader reads
    // from the top.
    virtual bool reads(RowOrder order) const { return order == RowOrder::TopDown; }
    // What reading in this order holds besides a row.
    virtual uint64_t bytesHeld(RowOrder) const { return head.decoderBytes; }
    // Rows one at a time: start once, nextRow for each stored row in that
    // order (header().height of them; the row stays valid until the next
    // call), then finish. A truncated or damaged file is an error, never
    // rows made up by the codec.
    virtual void start(RowOrder order) = 0;
    virtual const float* nextRow() = 0;
    virtual void finish() = 0;
    // Delivers every stored row once, top to bottom.
    void readRows(const RowSink& sink);

protected:
    ImageHeader head;
};

inline constexpr int64_t kMaxImageSide = 1000000;
inline constexpr int64_t kMaxImagePixels = int64_t{1} << 32;

// Opens a file of any of the three formats, told apart by their first bytes.
std::unique_ptr<ImageReader> openImage(const std::filesystem::path& path);

// The format that an output file's extension asks for (.png, .jpg, .jpeg,
// .tif, .tiff, any case); throws for any other extension.
FileFormat formatForExtension(const std::filesystem::path& path);

// The sample type a file of `format` is written with when `wanted` is asked
// for: PNG holds 8 and 16 bits (float becomes 16), JPEG only 8, TIFF all three.
SampleType storableType(FileFormat format, SampleType wanted);

// What the writer is told about the image it writes.
struct ImageToWrite {
    int32_t width = 0;
    int32_t height = 0;
    int32_t channels = 0;
    SampleType type = SampleType::UInt8;  // must be storable in the format
    int jpegQuality = 95;
    PictureInfo info;
};

// Fills row y (width x channels values, integer types in [0, 1]).
using RowSource = std::function<void(int32_t y, float* samples)>;

// Writes to a file of no name, or of a name of the command's own, in the
// destination's folder (OutputFile), which takes `path`'s name only once
// complete: an existing file is never replaced by a partial one, nor is one
// that is no regular file replaced at all. A colour profile that does not
// fit the channels (an RGB profile on a gray image) is left out. JPEG holds
// no alpha: give it 1 or 3 channels.
void writeImageRows(const std::filesystem::path& path, FileFormat format, const ImageToWrite& toWrite,
                    const RowSource& source);

// The whole image at once, upright (orientation applied).
Raster readImage(const std::filesystem::path& path, PictureInfo* info = nullptr);

struct WriteSettings {
    WriteSettings(SampleType type = SampleType::UInt8, int jpegQuality = 95, PictureInfo info = {})
        : type(type), jpegQuality(jpegQuality), info(std::move(info)) {}
    SampleType type;
    int jpegQuality;
    PictureInfo info;
};

// writeImageRows over a Raster; JPEG drops an alpha channel.
void writeImage(const std::filesystem::path& path, FileFormat format, const Raster& image,
                const WriteSettings& settings);

// Whether an ICC profile describes colours of this many channels (gray or
// RGB, alpha aside). Profiles of other spaces fit nothing.
bool profileFits(const std::vector<unsigned char>& profile, int32_t channels);

// The codecs, each opening or writing straight to the path it is given.
std::unique_ptr<ImageReader> openPng(const std::filesystem::path& path, uint64_t fileSize);
std::unique_ptr<ImageReader> openJpeg(const std::filesystem::path& path, uint64_t fileSize);
std::unique_ptr<ImageReader> openTiff(const std::filesystem::path& path, uint64_t fileSize);
void writePng(const std::filesystem::path& path, const ImageToWrite& toWrite, const RowSource& source);
void writeJpeg(const std::filesystem::path& path, const ImageToWrite& toWrite, const RowSource& source);
void writeTiff(const std::filesystem::path& path, const ImageToWrite& toWrite, const RowSource& source);

// Refuses sizes beyond kMaxImageSide and kMaxImagePixels; `what` names the file.
void checkDeclaredSize(const std::filesystem::path& path, int64_t width, int64_t height);
