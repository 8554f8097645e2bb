// Tiles through a loaded session: the interleaved float tile of the
// pipelines goes to the model in the model's layout and element type, and
// the result comes back interleaved in floats, converted only where the
// model's own differs.
#include <limits>

#include "backend/ModelLogicONNX.h"
#include "backend/ort_call.h"
#include "backend/tensor_elements.h"
#include "backend/tile_layout.h"
#include "diagnostics/console_sink.h"

Expected<TilePlan> ModelLogicONNX::describeTiles(int32_t side, int32_t channels) {
    // Without a model the first tile's run reports it, as it always has.
    if (!modelLoaded || !session) return TilePlan{};
    if (inputDeclared.size() != 1)
        return failure("takes " + std::to_string(inputDeclared.size()) + " inputs; a tile is one");
    if (outputDeclared.empty()) return failure("gives no output");
    std::string refused = unconvertedInput(0);
    if (refused.empty()) refused = unconvertedOutput(0);
    if (!refused.empty()) return failure(refused);
    const Expected<TileInput> input = tileInput(inputDeclared[0], side, channels, inputLayout);
    if (!input) return failure(input.message());
    const Expected<TileForecast> forecast = tileForecast(outputDeclared[0], side, outputLayout);
    if (!forecast) return failure(forecast.message());
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    return TilePlan{static_cast<int32_t>(forecast->scale), static_cast<int32_t>(std::min(forecast->channels, kMax))};
}

Expected<ImageFloat> ModelLogicONNX::runTile(const ImageFloat& tile) {
    consoleLine("runModel " + std::to_string(tile.width) + " " + std::to_string(tile.height) + " " +
                    std::to_string(tile.numChannels),
                Severity::verbose);
    const ImageFloat none{0, 0, 0, nullptr};
    // Refused as a direct run is: unreported, and no result.
    if (!modelLoaded || !session || inputDeclared.size() != 1 || outputDeclared.empty()) return none;
    // The pipelines ask before their first tile; a caller that did not
    // learns it here.
    const Expected<TilePlan> plan = describeTiles(tile.width, tile.numChannels);
    if (!plan || tile.width != tile.height) {
        appendErrorText("Error: the model " + (plan ? std::string("takes square tiles") : plan.message()) + "\n");
        return none;
    }
    const Expected<TileInput> input = tileInput(inputDeclared[0], tile.width, tile.numChannels, inputLayout);

    const int64_t pixels = pixelCount(tile);
    const size_t elements = static_cast<size_t>(pixels * tile.numChannels);
    const auto inType = static_cast<ONNXTensorElementDataType>(inputTypes[0]);
    const bool planar = input->layout == Layout::ChannelsFirst && tile.numChannels > 1;
    if (!planar) {
        bindInput(0, tile.data, elements, input->dims);
    } else {
        const size_t bytes = elements * convertedElementBytes(inType);
        void* planes = stagingFor(0, bytes);
        if (!planes) throw std::bad_alloc();
        storePlanar(tile.data, pixels, tile.numChannels, inType, planes);
        bindBuffer(0, planes, bytes, input->dims);
    }
    runBound(1);

    const Expected<OutputTensor> tensor = outputTensor(0);
    if (!tensor) return failure(tensor.message());
    const Expected<TileOutput> shape = tileOutput(tensor->dims, outputDeclared[0], tile.width, outputLayout);
    if (!shape) return failure(shape.message());
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    if (shape->width > kMax || shape->channels > kMax)
        return failure("returned a " + shapeText(tensor->dims) + " result, too large to read");
    const auto w = static_cast<int32_t>(shape->width), h = static_cast<int32_t>(shape->height);
    const auto c = static_cast<int32_t>(shape->channels);
    const auto outType = static_cast<ONNXTensorElementDataType>(tensor->type);

    ImageFloat result{w, h, c, nullptr};
    const bool outPlanar = shape->layout == Layout::ChannelsFirst && c > 1;
    if (c > 0 && outType == ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT && !outPlanar) {
        // Already the library's own: read where the runtime left it.
        result.data = static_cast<float*>(const_cast<void*>(tensor->data));
    } else if (c > 0) {
        if (!tileResult.resize(w, h, c)) {
            appendErrorText("Error: Not enough memory!");
            return none;
        }
        result.data = tileResult.view().data;
        if (outPlanar)
            loadPlanar(tensor->data, outType, pixelCount(result), c, result.data);
        else
            loadElements(tensor->data, outType, static_cast<size_t>(elementCount(result)), result.data);
    }
    consoleLine("getModelOutput " + std::to_string(w) + " " + std::to_string(h) + " " + std::to_string(c),
                Severity::verbose);
    return result;
}

std::string ModelLogicONNX::modelDescription() {
    if (!modelLoaded || !session) return {};
    std::string text;
    auto describe = [&](const char* side, const std::vector<std::string>& names,
                        const std::vector<std::vector<int64_t>>& dims, const std::vector<int32_t>& types,
                        int32_t code) {
        for (size_t i = 0; i < names.size(); ++i) {
            text += std::string(side) + " \"" + names[i] +
                    "\": " + elementTypeName(static_cast<ONNXTensorElementDataType>(types[i])) + " " +
                    shapeText(dims[i]);
            if (dims[i].size() == 4)
                text += declaredLayout(dims[i], code) == Layout::ChannelsFirst ? ", channels-first" : ", channels-last";
            text += "\n";
        }
    };
    describe("Input", inputNames, inputDeclared, inputTypes, inputLayout);
    describe("Output", outputNames, outputDeclared, outputTypes, outputLayout);
    return text;
}
