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
    const SampleType type = storableType(format, requestedType(o.bits, o.argmax ? SampleType::UInt8 : head.type));
    // An enlarging model's result is S times the picture: its alpha is enlarged to match.
    const int32_t scale = result.width() / input.width;
    const bool wholeMultiple = scale >= 1 && result.width() == input.width * scale &&
                               result.height() == static_cast<int64_t>(input.height) * scale;
    const bool alphaBack = !input.alpha.empty() && wholeMultiple && !mask;
    const bool jpeg = format == FileFormat::Jpeg;
    const bool grayPicture = (head.channels == 1 || head.channels == 2) && !o.color;
    const ResultShape shape(result.channels(), values, alphaBack, grayPicture && !o.argmax, jpeg);
    if (jpeg && !o.quiet && (alphaBack || result.channels() == 2 || result.channels() == 4))
        say("JPEG has no alpha channel; the result's alpha is left out");

    ImageToWrite toWrite{result.width(), result.height(), shape.writtenChannels(), type, o.jpegQuality, head.info};
    if (swapsSides(head.orientation)) std::swap(toWrite.info.density.x, toWrite.info.density.y);
    // The same physical size: a result of another size has another density.
    toWrite.info.density.x *= static_cast<double>(result.width()) / input.width;
    toWrite.info.density.y *= static_cast<double>(result.height()) / input.height;

    std::optional<PlaneEnlarger> alpha;
    std::vector<float> alphaRow;
    if (alphaBack) {
        alpha.emplace(input.alpha.data(), input.width, input.height, scale);
        alphaRow.resize(static_cast<size_t>(alpha->width()));
    }
    std::vector<float> pixel(static_cast<size_t>(std::max(result.channels(), 1)));
    const auto outChannels = static_cast<size_t>(toWrite.channels);
    writeImageRows(writtenPath(path), format, toWrite, [&](int32_t y, float* row) {
        if (alpha) alpha->row(y, alphaRow.data());
        const size_t first = static_cast<size_t>(y) * static_cast<size_t>(result.width());
        for (int32_t x = 0; x < result.width(); ++x) {
            result.pixel(first + x, pixel.data());
            shape.apply(pixel.data(), alpha ? alphaRow[static_cast<size_t>(x)] : 1.0f, row + x * outChannels);
        }
    });
    return {type, toWrite.width, toWrite.height, toWrite.channels};
}

Written writeCutout(const std::filesystem::path& path, FileFormat format, const ImageHeader& head,
                    const ModelInputImage& input, const RunResult& result, const ChannelMap& values, const Options& o) {
    if (format == FileFormat::Jpeg)
        throw std::runtime_error(path.string() + ": JPEG holds no alpha; write the cut-out as .png or .tif");
    if (result.channels() != 1)
        throw std::runtime_error("--cutout takes a mask of one channel; the model gave " +
                                 std::to_string(result.channels()));
    // The library's result is S times the picture on each side.
    const int32_t scale = result.width() / input.width;
    if (scale < 1 || result.width() != input.width * scale || result.height() != int64_t{input.height} * scale)
        throw std::runtime_error("the model's mask (" + std::to_string(result.width()) + " x " +
                                 std::to_string(result.height()) + ") is no whole multiple of the picture");
    const int32_t colours = input.colourChannels;
    ImageToWrite toWrite{input.width,   input.height,
                         colours + 1,   storableType(format, requestedType(o.bits, head.type)),
                         o.jpegQuality, head.info};
    if (swapsSides(head.orientation)) std::swap(toWrite.info.density.x, toWrite.info.density.y);
    const auto cells = static_cast<float>(scale) * static_cast<float>(scale);
    writeImageRows(writtenPath(path), format, toWrite, [&](int32_t y, float* row) {
        for (int32_t x = 0; x < input.width; ++x) {
            const size_t at = static_cast<size_t>(y) * static_cast<size_t>(input.width) + static_cast<size_t>(x);
            float* out = row + static_cast<size_t>(x) * static_cast<size_t>(colours + 1);
            std::copy_n(input.colour.data() + at * static_cast<size_t>(colours), colours, out);
            // The mask's cells over this pixel, averaged.
            float sum = 0;
            for (int32_t dy = 0; dy < scale; ++dy)
                for (int32_t dx = 0; dx < scale; ++dx) {
                    float m = 0;
                    result.pixel(static_cast<size_t>(y * scale + dy) * static_cast<size_t>(result.width()) +
                                     static_cast<size_t>(x * scale + dx),
                                 &m);
                    sum += m;
                }
            out[colours] = std::clamp(values(0, sum / cells), 0.0f, 1.0f);
        }
    });
    return {toWrite.type, toWrite.width, toWrite.height, toWrite.channels};
}
