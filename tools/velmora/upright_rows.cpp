#include "upright_rows.h"

#include <algorithm>
#include <stdexcept>

namespace {

bool upsideDown(Orientation o) { return o == Orientation::Rotate180 || o == Orientation::MirrorY; }
bool mirroredX(Orientation o) { return o == Orientation::Rotate180 || o == Orientation::MirrorX; }
RowOrder orderFor(Orientation o) { return upsideDown(o) ? RowOrder::BottomUp : RowOrder::TopDown; }

}  // namespace

std::string UprightRows::obstacle(const ImageReader& reader) {
    const Orientation o = reader.header().orientation;
    const std::string value = std::to_string(static_cast<int>(o));
    if (swapsSides(o))
        return "it is stored turned a quarter (orientation " + value +
               "), so its first upright row needs every stored row";
    if (!reader.reads(orderFor(o)))
        return "it is stored upside down (orientation " + value + ") and this file's rows are read from the top only";
    return {};
}

UprightRows::UprightRows(ImageReader& reader, const ChannelFit& fit, const ChannelMap& values, bool keepColour)
    : reader(reader), head(reader.header()), fit(fit), values(values), keepColour(keepColour) {
    if (const std::string why = obstacle(reader); !why.empty())
        throw std::runtime_error("the picture cannot stream: " + why);
    mirrored = mirroredX(head.orientation);
    mapped = !values.isIdentity();
    colour = head.channels == 2 || head.channels == 4 ? head.channels - 1 : head.channels;
    scratch.resize(static_cast<size_t>(std::max(fit.modelChannels(), 1)));
    reader.start(orderFor(head.orientation));
}

uint64_t UprightRows::readerBytes() const { return reader.bytesHeld(orderFor(head.orientation)); }

void UprightRows::next(float* model, float* alpha, float* colourOut) {
    const float* row = reader.nextRow();
    ++read;
    const auto have = static_cast<size_t>(head.channels), give = static_cast<size_t>(fit.modelChannels());
    const auto kept = static_cast<size_t>(colour);
    for (int32_t x = 0; x < head.width; ++x) {
        const auto at = static_cast<size_t>(mirrored ? head.width - 1 - x : x);
        const float* in = row + static_cast<size_t>(x) * have;
        float a = 0.0f;
        float* out = model + at * give;
        fit.apply(in, out, &a);
        if (mapped)
            for (size_t c = 0; c < give; ++c) out[c] = values(static_cast<int32_t>(c), out[c]);
        if (alpha && fit.setsAlphaAside()) alpha[at] = a;
        if (colourOut && keepColour) std::copy_n(in, kept, colourOut + at * kept);
    }
}

void UprightRows::finish() {
    while (read < head.height) {
        reader.nextRow();
        ++read;
    }
    reader.finish();
}

TopSample topSample(ImageReader& reader, const ChannelFit& fit, const ChannelMap& values, int32_t rows, int32_t width) {
    UprightRows upright(reader, fit, values, false);
    const int32_t h = std::min(rows, upright.height()), w = std::min(width, upright.width());
    const int32_t left = (upright.width() - w) / 2;
    const auto c = static_cast<size_t>(upright.modelChannels());
    std::vector<float> row(static_cast<size_t>(upright.width()) * c), alpha(static_cast<size_t>(upright.width()));
    TopSample sample;
    sample.pixels.resize(static_cast<size_t>(w) * static_cast<size_t>(h) * c);
    for (int32_t y = 0; y < h; ++y) {
        upright.next(row.data(), alpha.data(), nullptr);
        std::copy_n(row.data() + static_cast<size_t>(left) * c, static_cast<size_t>(w) * c,
                    sample.pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(w) * c);
    }
    sample.view = {w, h, upright.modelChannels(), sample.pixels.data()};
    return sample;
}
