// libFuzzer harness over the command's own ONNX reader (tools/velmora/
// model_file.*) and what the command decides from its answer: the fit of the
// model to the options, the tile count and the memory estimate. A damaged
// file must be refused with std::runtime_error, nothing else.
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "model_file.h"
#include "model_fit.h"
#include "options.h"
#include "run_plan.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<char> bytes(reinterpret_cast<const char*>(data), reinterpret_cast<const char*>(data) + size);
    ModelDescription description;
    try {
        description = describeModel(bytes);
    } catch (const std::runtime_error&) {
        return 0;
    }
    for (const auto* list : {&description.inputs, &description.outputs})
        for (const TensorDescription& t : *list) (void)shapeText(t.dims);

    // The options a user might give, chosen by the input's length so that
    // every model meets each of them.
    Options options;
    options.inputLayout = static_cast<Layout>(size % 3);
    options.outputLayout = static_cast<Layout>(size / 3 % 3);
    options.eightBit = size / 9 % 2;
    options.downscale = (size / 18 % 2) ? -3 : 1;
    ModelFit fit;
    try {
        fit = fitModel(&description, options);
    } catch (const std::runtime_error&) {
        return 0;
    }
    const int step = defaultStep(fit.tile);
    for (const int64_t side : {int64_t{1}, int64_t{640}, int64_t{1000000}}) {
        const int64_t tiles = tileCount(side, side / 2 + 1, step, options.downscale);
        (void)tileCountProblem(tiles, fit.tile, step);
        RunShape shape;
        shape.width = side;
        shape.height = side / 2 + 1;
        shape.pictureChannels = 3;
        shape.modelChannels = fit.inputChannels ? fit.inputChannels : 3;
        shape.resultChannels = fit.outputChannels ? fit.outputChannels : shape.modelChannels;
        shape.tile = fit.tile;
        shape.downscale = options.downscale;
        shape.eightBit = options.eightBit;
        shape.modelFileBytes = size;
        (void)memoryProblem(shape, uint64_t{8} << 30, "this machine");
    }
    return 0;
}
