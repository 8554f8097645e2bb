// Running a loaded session on whole inputs and copying its outputs into
// image records: the caller's buffer goes to the model as it is (converted
// only in element type) and an output is copied in its own element order.
#include <algorithm>
#include <cstring>
#include <limits>

#include "backend/ModelLogicONNX.h"
#include "backend/ort_call.h"
#include "backend/tensor_elements.h"
#include "diagnostics/console_sink.h"
#include "image/utils_image_operations.h"
#include "tiling/tile_layout.h"

namespace {

ONNXTensorElementDataType elementType(int32_t code) { return static_cast<ONNXTensorElementDataType>(code); }

// The product of the dimensions, or -1 when one is negative or it does not
// fit in 64 bits.
int64_t countOf(const std::vector<int64_t>& dims) {
    int64_t product = 1;
    for (int64_t d : dims)
        if (d < 0 || __builtin_mul_overflow(product, d, &product)) return -1;
    return product;
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

// The count of floats a copy of the record reports, within 32 bits.
int32_t reportedCount(const ImageFloat& output) {
    return static_cast<int32_t>(std::min<int64_t>(elementCount(output), std::numeric_limits<int32_t>::max()));
}

std::string sizesText(const InputDescriptor& in) {
    return std::to_string(in.width) + " x " + std::to_string(in.height) + " x " + std::to_string(in.numChannels);
}

}  // namespace

std::string ModelLogicONNX::unconvertedInput(size_t k) const {
    return refusedElementType(elementType(inputTypes[k]), "takes", "input", inputNames[k]);
}

std::string ModelLogicONNX::unconvertedOutput(size_t j) const {
    return refusedElementType(elementType(outputTypes[j]), "gives", "output", outputNames[j]);
}

void ModelLogicONNX::forgetInputs() {
    boundInputs.clear();
    staging.clear();
}

void* ModelLogicONNX::stagingFor(size_t k, size_t bytes) {
    if (staging.size() <= k) staging.resize(k + 1);
    Staging& s = staging[k];
    if (s.size < bytes) {
        s.bytes.reset();
        s.size = 0;
        s.bytes.reset(allocateArray<std::byte>(static_cast<int64_t>(std::min<size_t>(bytes, INT64_MAX))));
        if (!s.bytes) return nullptr;
        s.size = bytes;
    }
    return s.bytes.get();
}

void ModelLogicONNX::bindBuffer(size_t k, const void* data, size_t bytes, const std::vector<int64_t>& dims) {
    if (boundInputs.size() <= k) boundInputs.resize(k + 1);
    BoundInput& b = boundInputs[k];
    if (b.value && b.data == data && b.bytes == bytes && b.dims == dims) return;
    b.value.reset();
    // The runtime refuses a byte length shorter than the shape requires.
    throwOnError(ortApi->CreateTensorWithDataAsOrtValue(memoryInfo.get(), const_cast<void*>(data), bytes, dims.data(),
                                                        dims.size(), elementType(inputTypes[k]), out(b.value)));
    b.data = data;
    b.bytes = bytes;
    b.dims = dims;
}

void ModelLogicONNX::bindInput(size_t k, const float* data, size_t elements, const std::vector<int64_t>& dims) {
    const auto type = elementType(inputTypes[k]);
    const size_t bytes = elements * convertedElementBytes(type);
    if (type == ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT) return bindBuffer(k, data, bytes, dims);
    void* converted = stagingFor(k, bytes);
    if (!converted) throw std::bad_alloc();
    storeElements(data, elements, type, converted);
    bindBuffer(k, converted, bytes, dims);
}

void ModelLogicONNX::runBound(int32_t count) {
    std::vector<const char*> inNames(count);
    std::vector<const OrtValue*> inValues(count);
    for (int32_t k = 0; k < count; ++k) {
        inNames[k] = inputNames[k].c_str();
        inValues[k] = boundInputs[k].value.get();
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
}

bool ModelLogicONNX::runSession(const InputDescriptor* inputs, int32_t count) {
    if (!isModelLoaded() || !session) return false;
    if (count < 0 || static_cast<size_t>(count) != inputShapes.size()) return false;

    for (int32_t k = 0; k < count; ++k) {
        const InputDescriptor& in = inputs[k];
        const std::string refused = unconvertedInput(k);
        if (!refused.empty()) {
            appendErrorText("Error: the model " + refused + "\n");
            return false;
        }
        int64_t provided = 0;
        if (in.width < 0 || in.height < 0 || in.numChannels < 0 ||
            __builtin_mul_overflow(static_cast<int64_t>(in.width), static_cast<int64_t>(in.height), &provided) ||
            __builtin_mul_overflow(provided, static_cast<int64_t>(in.numChannels), &provided)) {
            appendErrorText("Error: input " + std::to_string(k) + " of " + sizesText(in) +
                            " values cannot be counted\n");
            return false;
        }
        // Open dimensions take the caller's sizes; the runtime reads as many
        // values as the shape asks for, so a shorter buffer is refused.
        const std::vector<int64_t> dims =
            directInputDims(inputDeclared[k], in.width, in.height, in.numChannels, inputLayout);
        const int64_t elements = countOf(dims);
        if (elements < 0 || static_cast<uint64_t>(elements) > SIZE_MAX / sizeof(double)) {
            appendErrorText("Error: input " + std::to_string(k) + " of shape " + shapeText(dims) +
                            " cannot be counted\n");
            return false;
        }
        if (!in.data || provided < elements) {
            appendErrorText("Error: input " + std::to_string(k) + " holds " + std::to_string(in.data ? provided : 0) +
                            " values, the model needs " + std::to_string(elements) + "\n");
            return false;
        }
        bindInput(k, in.data, static_cast<size_t>(elements), dims);
    }
    runBound(count);
    return true;
}

Expected<ModelLogicONNX::OutputTensor> ModelLogicONNX::outputTensor(int32_t index) {
    if (index < 0 || static_cast<size_t>(index) >= outputTensors.size())
        return failure("Error: output tensors < output index!");
    OrtValue* tensor = outputTensors[index].get();
    OutputTensor t;
    void* data = nullptr;
    throwOnError(ortApi->GetTensorMutableData(tensor, &data));
    t.data = data;
    OwnedTensorTypeAndShapeInfo info;
    throwOnError(ortApi->GetTensorTypeAndShape(tensor, out(info)));
    size_t dimCount = 0;
    throwOnError(ortApi->GetDimensionsCount(info.get(), &dimCount));
    t.dims.resize(dimCount);
    throwOnError(ortApi->GetDimensions(info.get(), t.dims.data(), dimCount));
    throwOnError(ortApi->GetTensorShapeElementCount(info.get(), &t.elements));
    ONNXTensorElementDataType type{};
    throwOnError(ortApi->GetTensorElementType(info.get(), &type));
    t.type = static_cast<int32_t>(type);
    // The value's own type decides how it is read, whatever the model declared.
    const std::string refused = refusedElementType(type, "gives", "output", outputNames[index]);
    if (!refused.empty()) return failure("Error: the model " + refused + "\n");
    return t;
}

Expected<ModelLogicONNX::OutputRecord> ModelLogicONNX::readOutput(int32_t index) {
    Expected<OutputTensor> tensor = outputTensor(index);
    if (!tensor) return failure(tensor.message());
    const OutputSizes s = outputSizes(tensor->dims, outputLayout);
    if (s.width < 0 || s.height < 0 || s.numChannels < 0)
        return failure("Error: output " + std::to_string(index) + " has sizes that do not fit an image\n");
    const int64_t wanted = s.width * s.height * s.numChannels;
    // Never more elements than the tensor holds, whatever their size.
    if (static_cast<uint64_t>(wanted) > tensor->elements)
        return failure("Error: output " + std::to_string(index) + " holds " + std::to_string(tensor->elements) +
                       " values, fewer than the " + std::to_string(s.width) + " x " + std::to_string(s.height) + " x " +
                       std::to_string(s.numChannels) + " its layout asks for\n");
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    if (s.width > kMax || s.height > kMax || s.numChannels > kMax) return failure("Error: Not enough memory!");
    const bool floats = tensor->type == ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT;
    const ImageFloat sizes{static_cast<int32_t>(s.width), static_cast<int32_t>(s.height),
                           static_cast<int32_t>(s.numChannels),
                           floats ? static_cast<float*>(const_cast<void*>(tensor->data)) : nullptr};
    return OutputRecord{sizes, *tensor};
}

namespace {
// The record's elements from the tensor, converted to floats.
void copyElements(const ModelLogicONNX::OutputTensor& tensor, const ImageFloat& sizes, float* destination) {
    const int64_t count = elementCount(sizes);
    if (count > 0) loadElements(tensor.data, elementType(tensor.type), static_cast<size_t>(count), destination);
}
}  // namespace

int32_t ModelLogicONNX::getModelOutput(ImageFloat* record, int32_t index) {
    const Expected<OutputRecord> output = readOutput(index);
    if (!output) {
        appendErrorText(output.message());
        return 0;
    }
    const ImageFloat& s = output->sizes;
    if (!ensureImage(*record, s.width, s.height, s.numChannels)) {
        appendErrorText("Error: Not enough memory!");
        return 0;
    }
    copyElements(output->tensor, s, record->data);
    return reportedCount(s);
}

bool ModelLogicONNX::runAndFetch(const InputDescriptor* inputs, int32_t count) {
    if (!runSession(inputs, count)) return false;
    const Expected<OutputRecord> output = readOutput(0);
    if (!output) {
        appendErrorText(output.message());
        return false;
    }
    const ImageFloat& s = output->sizes;
    if (!outputImage.resize(s.width, s.height, s.numChannels)) {
        appendErrorText("Error: Not enough memory!");
        return false;
    }
    copyElements(output->tensor, s, outputImage.view().data);
    return true;
}

ImageFloat ModelLogicONNX::runModel(const float* data, int32_t width, int32_t height, int32_t numChannels) {
    consoleLine("runModel " + std::to_string(width) + " " + std::to_string(height) + " " + std::to_string(numChannels),
                Severity::verbose);
    const InputDescriptor input{data, width, height, numChannels};
    // A refused or unreadable run gives the empty record, never the previous output.
    if (!runAndFetch(&input, 1)) return ImageFloat{0, 0, 0, nullptr};
    const ImageFloat& o = outputImage.view();
    consoleLine("getModelOutput " + std::to_string(o.width) + " " + std::to_string(o.height) + " " +
                    std::to_string(o.numChannels),
                Severity::verbose);
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
    // Floats are read where the runtime left them; other types are converted first.
    const Expected<OutputRecord> output = readOutput(0);
    if (!output) {
        appendErrorText(output.message());
        return nullptr;
    }
    ImageFloat values = output->sizes;
    if (static_cast<int64_t>(values.width) * values.height * values.numChannels * 4 == 0) return nullptr;
    std::unique_ptr<float[]> converted;
    if (!values.data) {
        converted.reset(allocateArray<float>(elementCount(values)));
        if (!converted) return nullptr;
        copyElements(output->tensor, values, converted.get());
        values.data = converted.get();
    }
    // The output's own channel count sizes and fills the buffer.
    const int32_t channels = values.numChannels;
    if (channelCount) *channelCount = channels;
    const int32_t n = reportedCount(values);
    const int64_t pixels = static_cast<int64_t>(n) / channels;
    uint8_t* bytes = allocateArray<uint8_t>(argmax ? pixels : n);
    if (!bytes) return nullptr;
    if (argmax)
        argmaxChannels(values.data, bytes, static_cast<uint64_t>(n), channels);
    else
        floatToByteTruncating(values.data, bytes, n, scale);
    consoleLine(" ------------------ check runModel ---------------- ", Severity::verbose);
    return bytes;
}
