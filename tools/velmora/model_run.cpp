#include "model_run.h"

#include <cstring>
#include <stdexcept>

namespace {

template <typename T>
T taken(velmora::Result<T> result) {
    if (result.error().stopped) throw Interrupted();
    if (!result) throw std::runtime_error(result.error().words);
    return std::move(*result);
}

velmora::Progress bar(ProgressState& progress) {
    return [&progress](float percent) { return reportProgress(&progress, percent); };
}

}  // namespace

void RunResult::pixel(size_t i, float* out) const {
    const auto c = static_cast<size_t>(channels());
    if (bytes_.data) {
        for (size_t k = 0; k < c; ++k) out[k] = bytes_.data[i * c + k] / 255.0f;
    } else {
        std::memcpy(out, floats_.image().data + i * c, c * sizeof(float));
    }
}

RunResult runFloats(velmora::Context& context, const ImageFloat& input, const VelmoraPlan& plan,
                    ProgressState& progress) {
    velmora::Result<velmora::FloatResult> result = context.runPlan(input, plan, bar(progress));
    finishProgress(progress);
    return RunResult(taken(std::move(result)));
}

RunResult runBytes(velmora::Context& context, const std::vector<unsigned char>& rgb, int32_t width, int32_t height,
                   int32_t modelChannels, const velmora::Tiling& tiling, const velmora::ByteConversion& conversion,
                   ProgressState& progress) {
    velmora::Result<velmora::ByteResult> result =
        context.runBytes(rgb.data(), width, height, modelChannels, tiling, conversion, bar(progress));
    finishProgress(progress);
    return RunResult(taken(std::move(result)));
}
