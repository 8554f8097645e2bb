// Running a loaded session and copying its outputs into image records.
#include <algorithm>
#include <cstring>
#include <limits>

#include "backend/ModelLogicONNX.h"
#include "backend/ort_call.h"
#include "diagnostics/console_sink.h"
#include "image/utils_image_operations.h"

namespace {

// Elements the runtime reads for an input of this stored shape.
int64_t inputElementCount(const std::vector<int64_t>& shape) {
    if (shape.size() == 4) {
        int64_t product = 1;
        for (int64_t d : shape) product *= d;
        return product < 0 ? -product : product;
    }
    return shape.empty() ? 0 : shape[0];
}

struct OutputSizes {
    int64_t width, height, numChannels;
};

// How a tensor's dimensions map onto an image record, by output layout.
OutputSizes outputSizes(const std::vector<int64_t>& d, int32_t layout) {
    const auto low32 = [](int64_t v) { return static_cast<int64_t>(static_cast<int32_t>(v)); };
    if (d.empty()) return {1, 1, 1};  // a scalar is one value
    if (d.size() == 1) return {1, low32(d[0]), 1};
    if (d.size() == 4) {
        if (layout == 0) return {low32(d[2]), low32(d[3]), low32(d[1])};
        if (layout == 1) return {low32(d[1]), low32(d[2]), low32(d[3])};
        return {low32(d[0]), 1, 4};
    }
    return {low32(d[0]), 1, static_cast<int64_t>(d.size())};
}

// Bytes per element of a tensor type, for bounding the reads.
size_t elementBytes(ONNXTensorElementDataType type) {
    switch (type) {
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_DOUBLE:
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_INT64:
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_UINT64: return 8;
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT16:
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_BFLOAT16:
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_INT16:
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_UINT16: return 2;
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_INT8:
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_UINT8:
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_BOOL: return 1;
        default: return 4;
    }
}

// The count of floats a copy of the record reports, within 32 bits.
int32_t reportedCount(const ImageFloat& output) {
    return static_cast<int32_t>(std::min<int64_t>(elementCount(output), std::numeric_limits<int32_t>::max()));
}

void copyPixels(const ImageFloat& output, float* destination) {
    const int64_t count = elementCount(output);
    if (count > 0) std::memcpy(destination, output.data, static_cast<size_t>(count) * sizeof(float));
}

}  // namespace

bool ModelLogicONNX::runSession(const InputDescriptor* inputs, int32_t count) {
    if (!isModelLoaded() || !session) return false;
    if (count < 0 || static_cast<size_t>(count) != inputShapes.size()) return false;

    std::vector<OwnedValue> values(count);
    for (int32_t k = 0; k < count; ++k) {
        const std::vector<int64_t>& shape = inputShapes[k];
        const int64_t elements = inputElementCount(shape);
        const InputDescriptor& in = inputs[k];
        // The runtime reads as many values as the model's shape asks for: a
        // shorter buffer would be read past its end.
        const int64_t provided = static_cast<int64_t>(in.width) * in.height * in.numChannels;
        if (!in.data || in.width < 0 || in.height < 0 || in.numChannels < 0 || provided < elements) {
            appendErrorText("Error: input " + std::to_string(k) + " holds " + std::to_string(provided) +
                            " values, the model needs " + std::to_string(elements) + "\n");
            return false;
        }
        OwnedMemoryInfo memoryInfo;
        throwOnError(ortApi->CreateCpuMemoryInfo(OrtDeviceAllocator, OrtMemTypeCPU, out(memoryInfo)));
        throwOnError(ortApi->CreateTensorWithDataAsOrtValue(
            memoryInfo.get(), const_cast<float*>(in.data), static_cast<size_t>(elements) * sizeof(float), shape.data(),
            shape.size(), ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT, out(values[k])));
    }

    std::vector<const char*> inNames(count);
    std::vector<const OrtValue*> inValues(count);
    for (int32_t k = 0; k < count; ++k) {
        inNames[k] = inputNames[k].c_str();
        inValues[k] = values[k].get();
    }
    std::vector<const char*> outNames(outputNames.size());
    for (size_t j = 0; j < outputNames.size(); ++j) outNames[j] = outputNames[j].c_str();
    std::vector<OrtValue*> results(outputNames.size(), nullptr);
    // Room for the owners first, so that nothing can fail between the run
    // and the handing over of its outputs.
    std::vector<OwnedValue> kept;
    kept.reserve(results.size());

    throwOnError(ortApi->Run(session.get(), nullptr, inNames.data(), inValues.data(), count, outNames.data(),
                             outNames.size(), results.data()));
    for (OrtValue* value : results) kept.emplace_back(value);
    outputTensors = std::move(kept);
    return true;
}

Expected<ImageFloat> ModelLogicONNX::readOutput(int32_t index) {
    if (index < 0 || static_cast<size_t>(index) >= outputTensors.size())
        return failure("Error: output tensors < output index!");
    OrtValue* tensor = outputTensors[index].get();
    float* tensorData = nullptr;
    throwOnError(ortApi->GetTensorMutableData(tensor, reinterpret_cast<void**>(&tensorData)));
    OwnedTensorTypeAndShapeInfo info;
    throwOnError(ortApi->GetTensorTypeAndShape(tensor, out(info)));
    size_t dimCount = 0;
    throwOnError(ortApi->GetDimensionsCount(info.get(), &dimCount));
    std::vector<int64_t> dims(dimCount);
    throwOnError(ortApi->GetDimensions(info.get(), dims.data(), dimCount));
    size_t tensorElements = 0;
    throwOnError(ortApi->GetTensorShapeElementCount(info.get(), &tensorElements));
    ONNXTensorElementDataType type{};
    throwOnError(ortApi->GetTensorElementType(info.get(), &type));

    const OutputSizes s = outputSizes(dims, outputLayout);
    if (s.width < 0 || s.height < 0 || s.numChannels < 0)
        return failure("Error: output " + std::to_string(index) + " has sizes that do not fit an image\n");
    const int64_t wanted = s.width * s.height * s.numChannels;
    // The copy reads 32-bit values: never more than the tensor holds.
    const uint64_t availableFloats = static_cast<uint64_t>(tensorElements) * elementBytes(type) / sizeof(float);
    if (static_cast<uint64_t>(wanted) > availableFloats)
        return failure("Error: output " + std::to_string(index) + " holds " + std::to_string(availableFloats) +
                       " values, fewer than the " + std::to_string(s.width) + " x " + std::to_string(s.height) + " x " +
                       std::to_string(s.numChannels) + " its layout asks for\n");
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    if (s.width > kMax || s.height > kMax || s.numChannels > kMax) return failure("Error: Not enough memory!");
    return ImageFloat{static_cast<int32_t>(s.width), static_cast<int32_t>(s.height),
                      static_cast<int32_t>(s.numChannels), tensorData};
}

int32_t ModelLogicONNX::getModelOutput(ImageFloat* record, int32_t index) {
    const Expected<ImageFloat> output = readOutput(index);
    if (!output) {
        appendErrorText(output.message());
        return 0;
    }
    if (!ensureImage(*record, output->width, output->height, output->numChannels)) {
        appendErrorText("Error: Not enough memory!");
        return 0;
    }
    copyPixels(*output, record->data);
    return reportedCount(*output);
}

bool ModelLogicONNX::runAndFetch(const InputDescriptor* inputs, int32_t count) {
    if (!runSession(inputs, count)) return false;
    const Expected<ImageFloat> output = readOutput(0);
    if (!output) {
        appendErrorText(output.message());
        return false;
    }
    if (!outputImage.resize(output->width, output->height, output->numChannels)) {
        appendErrorText("Error: Not enough memory!");
        return false;
    }
    copyPixels(*output, outputImage.view().data);
    return true;
}

ImageFloat ModelLogicONNX::runModel(const float* data, int32_t width, int32_t height, int32_t numChannels) {
    consoleLine("runModel " + std::to_string(width) + " " + std::to_string(height) + " " + std::to_string(numChannels));
    const InputDescriptor input{data, width, height, numChannels};
    // A refused or unreadable run gives the empty record, never the previous output.
    if (!runAndFetch(&input, 1)) return ImageFloat{0, 0, 0, nullptr};
    const ImageFloat& o = outputImage.view();
    consoleLine("getModelOutput " + std::to_string(o.width) + " " + std::to_string(o.height) + " " +
                std::to_string(o.numChannels));
    return o;
}

float* ModelLogicONNX::runModel2Inputs(const float* data1, const float* data2, int32_t width, int32_t height,
                                       int32_t numChannels, int32_t* outputCount) {
    const InputDescriptor inputs[2] = {{data1, width, height, numChannels}, {data2, width, height, numChannels}};
    if (!runAndFetch(inputs, 2)) return nullptr;
    if (outputCount) *outputCount = static_cast<int32_t>(outputTensors.size());
    return outputImage.view().data;
}

float* ModelLogicONNX::runModel3Inputs(const ImageFloat* input1, const ImageFloat* input2, const ImageFloat* input3,
                                       int32_t* outputCount) {
    if (!input1 || !input2 || !input3) return nullptr;
    const InputDescriptor inputs[3] = {{input1->data, input1->width, input1->height, input1->numChannels},
                                       {input2->data, input2->width, input2->height, input2->numChannels},
                                       {input3->data, input3->width, input3->height, input3->numChannels}};
    if (!runAndFetch(inputs, 3)) return nullptr;
    if (outputCount) *outputCount = static_cast<int32_t>(outputTensors.size());
    return outputImage.view().data;
}

uint8_t* ModelLogicONNX::runModelToBytes(const float* data, int32_t width, int32_t height, int32_t numChannels,
                                         int32_t* channelCount, bool argmax, float scale) {
    const InputDescriptor input{data, width, height, numChannels};
    if (!runSession(&input, 1)) return nullptr;
    // Read where the runtime left it: the bytes need no float copy first.
    const Expected<ImageFloat> output = readOutput(0);
    if (!output) {
        appendErrorText(output.message());
        return nullptr;
    }
    if (static_cast<int64_t>(output->width) * output->height * output->numChannels * 4 == 0) return nullptr;
    // The output's own channel count sizes and fills the buffer.
    const int32_t channels = output->numChannels;
    if (channelCount) *channelCount = channels;
    const int32_t n = reportedCount(*output);
    const int64_t pixels = static_cast<int64_t>(n) / channels;
    uint8_t* bytes = allocateArray<uint8_t>(argmax ? pixels : n);
    if (!bytes) return nullptr;
    if (argmax)
        argmaxChannels(output->data, bytes, static_cast<uint64_t>(n), channels);
    else
        floatToByteTruncating(output->data, bytes, n, scale);
    consoleLine(" ------------------ check runModel ---------------- ");
    return bytes;
}
