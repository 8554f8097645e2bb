// Turning model bytes into a runtime session, and describing the model.
#include <algorithm>

#include "backend/ModelLogicONNX.h"
#include "backend/backend_error_text.h"
#include "backend/gpu_devices.h"
#include "backend/ort_call.h"
#include "backend/runtime_log.h"
#include "backend/runtime_providers.h"
#include "diagnostics/console_sink.h"

namespace {

constexpr const char* kDmlProviderName = "DmlExecutionProvider";

bool runtimeOffersDml() {
    const auto providers = availableProviders();
    if (!providers) throw Ort::Exception(std::string(providers.message()), ORT_FAIL);
    return std::find(providers->begin(), providers->end(), kDmlProviderName) != providers->end();
}

// Options for a GPU session when a DirectML device can be made; null otherwise.
OwnedSessionOptions gpuOptions() {
    OwnedSessionOptions options;
    throwOnError(ortApi->CreateSessionOptions(out(options)));
    if (!runtimeOffersDml()) return nullptr;
    routeSessionLogToHost(options.get());

    // The runtime keeps its own references to the devices it is given.
    DmlDevices devices;
    createDmlDevice(devices);  // only whether a DirectML device came back matters
    if (!devices.dmlDevice) return nullptr;
    const void* dmlApi = nullptr;
    ignoreError(ortApi->GetExecutionProviderApi("DML", 23, &dmlApi));
    // Without the provider table the processor serves, as with no device.
    if (!dmlApi) return nullptr;
    throwOnError(ortApi->SetSessionExecutionMode(options.get(), ORT_SEQUENTIAL));
    ignoreError(ortApi->AddSessionConfigEntry(options.get(), "ep.dml.disable_graph_fusion", "1"));
    appendDmlExecutionProvider(dmlApi, options.get(), devices);
    return options;
}

// Without a count the runtime sizes the pool for the machine (one thread per
// physical core) and keeps its defaults for the rest. A count sets the
// inter-operation pool too, which only a parallel execution mode starts, so
// that 5 gives exactly the sessions of earlier versions.
OwnedSessionOptions cpuOptions(int32_t threads, bool spinning) {
    OwnedSessionOptions options;
    throwOnError(ortApi->CreateSessionOptions(out(options)));
    // Without a host's sink the runtime reports everything, as it always has.
    if (!routeSessionLogToHost(options.get())) throwOnError(ortApi->SetSessionLogSeverityLevel(options.get(), 0));
    if (threads > 0) {
        const int count = std::min(threads, kMostProcessorThreads);
        throwOnError(ortApi->SetIntraOpNumThreads(options.get(), count));
        throwOnError(ortApi->SetInterOpNumThreads(options.get(), count));
    }
    if (!spinning) throwOnError(ortApi->AddSessionConfigEntry(options.get(), "session.intra_op.allow_spinning", "0"));
    return options;
}

struct AllocatedName {
    OrtAllocator* allocator;
    char* text;
    ~AllocatedName() {
        if (text) ignoreError(ortApi->AllocatorFree(allocator, text));
    }
};

std::vector<int64_t> tensorDimensions(const OrtTypeInfo* typeInfo, ONNXTensorElementDataType* elementType) {
    const OrtTensorTypeAndShapeInfo* tensorInfo = nullptr;
    throwOnError(ortApi->CastTypeInfoToTensorInfo(typeInfo, &tensorInfo));
    if (!tensorInfo) throw Ort::Exception("The model has an input or output that is not a tensor", ORT_INVALID_GRAPH);
    throwOnError(ortApi->GetTensorElementType(tensorInfo, elementType));
    size_t count = 0;
    throwOnError(ortApi->GetDimensionsCount(tensorInfo, &count));
    std::vector<int64_t> dims(count);
    throwOnError(ortApi->GetDimensions(tensorInfo, dims.data(), count));
    return dims;
}

}  // namespace

bool ModelLogicONNX::loadModel(const void* data, uint32_t size, std::string inName, std::string outName) {
    return loadModelEx(data, size, std::move(inName), std::move(outName), 1, 1);
}

bool ModelLogicONNX::loadModelEx(const void* data, uint32_t size, std::string inName, std::string outName,
                                 int32_t inLayout, int32_t outLayout) {
    inputName = inName;
    outputName = outName;
    modelData = data;
    modelSize = size;
    inputLayout = inLayout;
    outputLayout = outLayout;
    return createSession(data, size, std::move(inName), std::move(outName), true);
}

bool ModelLogicONNX::reloadOnCpu() {
    session.reset();
    modelLoaded = false;
    return createSession(modelData, modelSize, inputName, outputName, false);
}

void ModelLogicONNX::deallocateModel() {
    // The model's outputs go with it, so that no later run hands out a stale result.
    outputTensors.clear();
    forgetInputs();
    session.reset();
    outputImage.reset();
    metadata.clear();
    env.reset();
    modelLoaded = false;
}

bool ModelLogicONNX::createSession(const void* data, uint32_t size, std::string inName, std::string outName,
                                   bool useGpu) {
    errorCount = 0;
    if (!data || size == 0) {
        modelLoaded = false;
        appendErrorText("Model loading failed: no model data (null pointer or size 0)\n");
        return false;
    }
    try {
        OwnedSessionOptions chosen;
        if (useGpu) {
            try {
                chosen = gpuOptions();
            } catch (const Ort::Exception& e) {
                ++errorCount;
                consoleLine(std::string("GPU ERROR: ") + e.what(), Severity::error);
                appendBackendErrorText(e.what());
                return false;
            }
        }
        const bool onGpu = static_cast<bool>(chosen);
        sessionOptions = chosen ? std::move(chosen) : cpuOptions(processorThreads, spinning);

        if (!env) env = createEnvironment();
        // A refused model leaves the previous session where it was.
        throwOnError(ortApi->CreateSessionFromArray(env.get(), data, size, sessionOptions.get(), out(session)));

        describeModel();
        readMetadata();
        provider = onGpu ? "DmlExecutionProvider" : "CPUExecutionProvider";
        forgetInputs();
        modelLoaded = true;
        if (!inName.empty()) inputName = inName;
        if (!outName.empty()) outputName = outName;
        consoleLine("Input Name: " + inputName);
        consoleLine("Output Name: " + outputName);
        return true;
    } catch (const std::exception& e) {
        modelLoaded = false;
        appendErrorText(e.what());
        return false;
    }
}

namespace {

// Which side of the model a description is about.
struct Side {
    const char* label;  // "Input" or "Output"
    bool printsType;
    OrtStatus*(ORT_API_CALL* count)(const OrtSession*, size_t*)NO_EXCEPTION;
    OrtStatus*(ORT_API_CALL* name)(const OrtSession*, size_t, OrtAllocator*, char**)NO_EXCEPTION;
    OrtStatus*(ORT_API_CALL* typeInfo)(const OrtSession*, size_t, OrtTypeInfo**)NO_EXCEPTION;
};

// What describing one side of the model records.
struct SideRecord {
    std::vector<std::string>& names;
    std::vector<std::vector<int64_t>>& shapes;    // every dimension made non-negative
    std::vector<std::vector<int64_t>>& declared;  // as the model gives them, -1 where open
    std::vector<int32_t>& types;
};

// Prints one side's names, types and dimensions and records them; in the
// shapes an open dimension, -1, becomes 1.
void describeSide(OrtSession* session, OrtAllocator* allocator, const Side& side, const SideRecord& record) {
    size_t count = 0;
    throwOnError(side.count(session, &count));
    std::vector<std::string>& names = record.names;
    std::vector<std::vector<int64_t>>& shapes = record.shapes;
    names.clear();
    shapes.clear();
    record.declared.clear();
    record.types.clear();
    names.reserve(count);
    if (side.printsType) consoleLine("Number of inputs = " + std::to_string(count));
    for (size_t i = 0; i < count; ++i) {
        const std::string prefix = side.label + (" " + std::to_string(i)) + " : ";
        AllocatedName name{allocator, nullptr};
        throwOnError(side.name(session, i, allocator, &name.text));
        consoleLine(prefix + "name =" + name.text);
        names.emplace_back(name.text);

        OwnedTypeInfo typeInfo;
        throwOnError(side.typeInfo(session, i, out(typeInfo)));
        ONNXTensorElementDataType type{};
        std::vector<int64_t> dims = tensorDimensions(typeInfo.get(), &type);
        record.declared.push_back(dims);
        record.types.push_back(static_cast<int32_t>(type));
        if (side.printsType) consoleLine(prefix + "type = " + std::to_string(static_cast<int>(type)));
        consoleLine(prefix + "num_dims = " + std::to_string(dims.size()));
        for (size_t j = 0; j < dims.size(); ++j) {
            // A declared INT64_MIN has no positive twin; the largest size stands in.
            if (dims[j] < 0) dims[j] = dims[j] == INT64_MIN ? INT64_MAX : -dims[j];
            consoleLine(prefix + "dim[" + std::to_string(j) + "] =" + std::to_string(dims[j]));
        }
        shapes.push_back(std::move(dims));
    }
}

}  // namespace

void ModelLogicONNX::describeModel() {
    OrtAllocator* allocator = nullptr;
    throwOnError(ortApi->GetAllocatorWithDefaultOptions(&allocator));
    const Side inputs{"Input", true, ortApi->SessionGetInputCount, ortApi->SessionGetInputName,
                      ortApi->SessionGetInputTypeInfo};
    const Side outputs{"Output", false, ortApi->SessionGetOutputCount, ortApi->SessionGetOutputName,
                       ortApi->SessionGetOutputTypeInfo};
    describeSide(session.get(), allocator, inputs, {inputNames, inputShapes, inputDeclared, inputTypes});
    describeSide(session.get(), allocator, outputs, {outputNames, outputShapes, outputDeclared, outputTypes});
}

namespace {

// The keys of a model's metadata, each and the list freed by the allocator
// that made them.
struct AllocatedKeys {
    OrtAllocator* allocator;
    char** keys = nullptr;
    int64_t count = 0;
    ~AllocatedKeys() {
        if (!keys) return;
        for (int64_t i = 0; i < count; ++i)
            if (keys[i]) ignoreError(ortApi->AllocatorFree(allocator, keys[i]));
        ignoreError(ortApi->AllocatorFree(allocator, keys));
    }
};

std::map<std::string, std::string> sessionMetadata(const OrtSession* session) {
    OrtAllocator* allocator = nullptr;
    throwOnError(ortApi->GetAllocatorWithDefaultOptions(&allocator));
    OwnedModelMetadata handle;
    throwOnError(ortApi->SessionGetModelMetadata(session, out(handle)));
    AllocatedKeys keys{allocator};
    throwOnError(ortApi->ModelMetadataGetCustomMetadataMapKeys(handle.get(), allocator, &keys.keys, &keys.count));
    std::map<std::string, std::string> properties;
    for (int64_t i = 0; keys.keys && i < keys.count; ++i) {
        AllocatedName value{allocator, nullptr};
        throwOnError(ortApi->ModelMetadataLookupCustomMetadataMap(handle.get(), allocator, keys.keys[i], &value.text));
        if (value.text) properties.emplace(keys.keys[i], value.text);
    }
    return properties;
}

}  // namespace

void ModelLogicONNX::readMetadata() {
    metadata.clear();
    try {
        metadata = sessionMetadata(session.get());
    } catch (const Ort::Exception& e) {
        consoleLine(std::string("Model metadata not read: ") + e.what());
    }
}
