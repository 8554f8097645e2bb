#include "result_writer.h"

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <vector>

#include "console.h"
#include "enlarge_plane.h"
#include "jobs.h"

SampleType requestedType(int bits, SampleType fallback) {
    switch (bits) {
        case 8: return SampleType::UInt8;
        case 16: return SampleType::UInt16;
        case 32: return SampleType::Float32;
    }
    return fallback;
}

Written writeResult(const std::filesystem::path& path, FileFormat format, const ImageHeader& head,
                    const ModelInputImage& input, const RunResult& result, const ChannelMap& values, const Options& o,
                    bool mask) {
    HeldPicture picture(input);
    HeldResult rows(result);
    return writeResult(path, format, head, picture, rows, values, o, mask);
}

Written writeCutout(const std::filesystem::path& path, FileFormat format, const ImageHeader& head,
                    const ModelInputImage& input, const RunResult& result, const ChannelMap& values, const Options& o) {
    HeldPicture picture(input);
    HeldResult rows(result);
    return writeCutout(path, format, head, picture, rows, values, o);
}

Written writeResult(const std::filesystem::path& path, FileFormat format, const ImageHeader& head, PictureRows& picture,
                    ResultRows& result, const ChannelMap& values, const Options& o, bool mask) {
    const SampleType type = storableType(format, requestedType(o.bits, o.argmax ? SampleType::UInt8 : head.type));
    // An enlarging model's result is S times the picture: its alpha is enlarged to match.
    const int32_t scale = result.width() / picture.width();
    const bool wholeMultiple = scale >= 1 && result.width() == picture.width() * scale &&
                               result.height() == static_cast<int64_t>(picture.height()) * scale;
    const bool alphaBack = picture.hasAlpha() && wholeMultiple && !mask;
    const bool jpeg = format == FileFormat::Jpeg;
    const bool grayPicture = (head.channels == 1 || head.channels == 2) && !o.color;
    const ResultShape shape(result.channels(), values, alphaBack, grayPicture && !o.argmax, jpeg);
    if (jpeg && !o.quiet && (alphaBack || result.channels() == 2 || result.channels() == 4))
        say("JPEG has no alpha channel; the result's alpha is left out");

    ImageToWrite toWrite{result.width(), result.height(), shape.writtenChannels(), type, o.jpegQuality, head.info};
    if (swapsSides(head.orientation)) std::swap(toWrite.info.density.x, toWrite.info.density.y);
    // The same physical size: a result of another size has another density.
    toWrite.info.density.x *= static_cast<double>(result.width()) / picture.width();
    toWrite.info.density.y *= static_cast<double>(result.height()) / picture.height();

    std::optional<PlaneEnlarger> alpha;
    std::vector<float> alphaRow;
    if (alphaBack) {
        alpha.emplace([&picture](int32_t y) { return picture.alpha(y); }, picture.width(), picture.height(), scale);
        alphaRow.resize(static_cast<size_t>(alpha->width()));
    }
    const auto inChannels = static_cast<size_t>(std::max(result.channels(), 1));
    const auto outChannels = static_cast<size_t>(toWrite.channels);
    writeImageRows(writtenPath(path), format, toWrite, [&](int32_t y, float* row) {
        if (alpha) alpha->row(y, alphaRow.data());
        const float* from = result.row(y);
        for (int32_t x = 0; x < result.width(); ++x)
            shape.apply(from + static_cast<size_t>(x) * inChannels, alpha ? alphaRow[static_cast<size_t>(x)] : 1.0f,
                        row + x * outChannels);
        if (y + 1 == result.height()) result.end();
    });
    return {type, toWrite.width, toWrite.height, toWrite.channels};
}

Written writeCutout(const std::filesystem::path& path, FileFormat format, const ImageHeader& head, PictureRows& picture,
                    ResultRows& result, const ChannelMap& values, const Options& o) {
    if (format == FileFormat::Jpeg)
        throw std::runtime_error(path.string() + ": JPEG holds no alpha; write the cut-out as .png or .tif");
    if (result.channels() != 1)
        throw std::runtime_error("--cutout takes a mask of one channel; the model gave " +
                                 std::to_string(result.channels()));
    // The library's result is S times the picture on each side.
    const int32_t scale = result.width() / picture.width();
    if (scale < 1 || result.width() != picture.width() * scale || result.height() != int64_t{picture.height()} * scale)
        throw std::runtime_error("the model's mask (" + std::to_string(result.width()) + " x " +
                                 std::to_string(result.height()) + ") is no whole multiple of the picture");
    const int32_t colours = picture.colourChannels();
    ImageToWrite toWrite{picture.width(), picture.height(),
                         colours + 1,     storableType(format, requestedType(o.bits, head.type)),
                         o.jpegQuality,   head.info};
    if (swapsSides(head.orientation)) std::swap(toWrite.info.density.x, toWrite.info.density.y);
    const auto cells = static_cast<float>(scale) * static_cast<float>(scale);
    const auto width = static_cast<size_t>(picture.width());
    std::vector<float> sums(width);
    writeImageRows(writtenPath(path), format, toWrite, [&](int32_t y, float* row) {
        const float* colour = picture.colour(y);
        // The mask's cells over each pixel, added in the same order for every run.
        std::fill(sums.begin(), sums.end(), 0.0f);
        for (int32_t dy = 0; dy < scale; ++dy) {
            const float* mask = result.row(y * scale + dy);
            for (size_t x = 0; x < width; ++x)
                for (int32_t dx = 0; dx < scale; ++dx) sums[x] += mask[x * static_cast<size_t>(scale) + dx];
        }
        for (size_t x = 0; x < width; ++x) {
            float* out = row + x * static_cast<size_t>(colours + 1);
            std::copy_n(colour + x * static_cast<size_t>(colours), colours, out);
            out[colours] = std::clamp(values(0, sums[x] / cells), 0.0f, 1.0f);
        }
        if (y + 1 == picture.height()) result.end();
    });
    return {toWrite.type, toWrite.width, toWrite.height, toWrite.channels};
}
