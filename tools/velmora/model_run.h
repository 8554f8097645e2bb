// One run of the loaded model through velmora::Context: the progress
// bar as the library's callback, a stop as Interrupted, a failure as an
// exception with the library's words, and the result read pixel by pixel
// whichever path made it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "progress.h"
#include "velmora.hpp"

// The result where the context keeps it: the float path's is released with
// this holder, the 8-bit path's lives until the context's next 8-bit run.
class RunResult {
public:
    explicit RunResult(velmora::FloatResult floats) : floats_(std::move(floats)) {}
    explicit RunResult(const velmora::ByteResult& bytes) : bytes_(bytes) {}

    int32_t width() const { return bytes_.data ? bytes_.width : floats_.image().width; }
    int32_t height() const { return bytes_.data ? bytes_.height : floats_.image().height; }
    int32_t channels() const { return bytes_.data ? bytes_.channels : floats_.image().numChannels; }
    // Pixel i's channels as floats (bytes become k / 255).
    void pixel(size_t i, float* out) const;
    // Row y of the float path's result where the context keeps it; null on
    // the 8-bit path.
    const float* floatRow(int32_t y) const {
        if (bytes_.data) return nullptr;
        const ImageFloat& f = floats_.image();
        return f.data + static_cast<size_t>(y) * static_cast<size_t>(f.width) * static_cast<size_t>(f.numChannels);
    }

private:
    velmora::FloatResult floats_;
    velmora::ByteResult bytes_;
};

// The float path on the command's interleaved floats, by the library's plan
// for them (velmoraPredict: the profile applied on the way in and out).
RunResult runFloats(velmora::Context& context, const ImageFloat& input, const VelmoraPlan& plan,
                    ProgressState& progress);

// The 8-bit path on RGB bytes; `modelChannels` is what the model's input
// takes. The result's sizes are the library's plan after the run.
RunResult runBytes(velmora::Context& context, const std::vector<unsigned char>& rgb, int32_t width, int32_t height,
                   int32_t modelChannels, const velmora::Tiling& tiling, const velmora::ByteConversion& conversion,
                   ProgressState& progress);
