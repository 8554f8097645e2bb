// Tiles through a loaded session: the tiled runs write each tile straight
// into the room this gives, in the model's layout and element type, and read
// the result where the runtime left it.
#include "backend/ModelLogicONNX.h"
#include "backend/ort_call.h"
#include "backend/tensor_elements.h"
#include "diagnostics/console_sink.h"

ModelDescription ModelLogicONNX::description() {
    ModelDescription model;
    if (!modelLoaded || !session) return model;
    model.known = true;
    for (size_t i = 0; i < inputNames.size(); ++i)
        model.inputs.push_back({inputNames[i], inputTypes[i], inputDeclared[i]});
    for (size_t j = 0; j < outputNames.size(); ++j)
        model.outputs.push_back({outputNames[j], outputTypes[j], outputDeclared[j]});
    model.inputLayout = inputLayout;
    model.outputLayout = outputLayout;
    return model;
}

void* ModelLogicONNX::tileInput(const TileInputSpec& form) {
    int64_t elements = 1;
    for (int64_t d : form.dims)
        if (d < 0 || __builtin_mul_overflow(elements, d, &elements)) throw std::bad_alloc();
    const size_t bytes =
        static_cast<size_t>(elements) * convertedElementBytes(static_cast<ONNXTensorElementDataType>(form.elementType));
    // A room of the tiled runs' own: a direct run in between binds its own
    // buffers and leaves this one where the engine writes.
    if (tileRoom.size < bytes) {
        tileRoom.bytes.reset();
        tileRoom.size = 0;
        tileRoom.bytes.reset(allocateArray<std::byte>(static_cast<int64_t>(bytes)));
        if (!tileRoom.bytes) throw std::bad_alloc();
        tileRoom.size = bytes;
    }
    tileSpec = form;
    tileBytes = bytes;
    return tileRoom.bytes.get();
}

Expected<TileTensor> ModelLogicONNX::runTile() {
    consoleLine("runModel " + std::to_string(tileSpec.width) + " " + std::to_string(tileSpec.height) + " " +
                    std::to_string(tileSpec.channels),
                Severity::verbose);
    // Refused as a direct run is: no result.
    if (!modelLoaded || !session || inputDeclared.size() != 1 || outputDeclared.empty() || !tileRoom.bytes)
        return failure("returned 0 channels");
    bindBuffer(0, tileRoom.bytes.get(), tileBytes, tileSpec.dims);
    runBound(1);
    const Expected<OutputTensor> tensor = outputTensor(0);
    if (!tensor) return failure(tensor.message());
    return TileTensor{tensor->data, tensor->type, tensor->dims};
}

void ModelLogicONNX::tileResultRead(int32_t width, int32_t height, int32_t channels) {
    consoleLine(
        "getModelOutput " + std::to_string(width) + " " + std::to_string(height) + " " + std::to_string(channels),
        Severity::verbose);
}
