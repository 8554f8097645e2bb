#include "api/direct_runtime.h"

#include <onnxruntime_c_api.h>

#include <fstream>
#include <iterator>
#include <stdexcept>

void DirectRuntime::check(void* status) const {
    if (!status) return;
    auto* s = static_cast<OrtStatus*>(status);
    const std::string message = api->GetErrorMessage(s);
    api->ReleaseStatus(s);
    throw std::runtime_error("runtime: " + message);
}

DirectRuntime::DirectRuntime(const std::string& modelFile) : api(directRuntimeApi()) {
    std::ifstream in(modelFile, std::ios::binary);
    if (!in) throw std::runtime_error("missing model " + modelFile);
    modelBytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    check(api->CreateEnv(ORT_LOGGING_LEVEL_WARNING, "reference", &env));
    OrtSessionOptions* options = nullptr;
    check(api->CreateSessionOptions(&options));
    OrtStatus* made = api->CreateSessionFromArray(env, modelBytes.data(), modelBytes.size(), options, &session);
    api->ReleaseSessionOptions(options);
    check(made);
}

DirectRuntime::~DirectRuntime() {
    if (session) api->ReleaseSession(session);
    if (env) api->ReleaseEnv(env);
}

DirectRuntime::Tensor DirectRuntime::run(const std::vector<float>& input, const std::vector<int64_t>& dims) {
    OrtMemoryInfo* memory = nullptr;
    check(api->CreateCpuMemoryInfo(OrtArenaAllocator, OrtMemTypeDefault, &memory));
    OrtValue* value = nullptr;
    OrtStatus* made =
        api->CreateTensorWithDataAsOrtValue(memory, const_cast<float*>(input.data()), input.size() * sizeof(float),
                                            dims.data(), dims.size(), ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT, &value);
    api->ReleaseMemoryInfo(memory);
    check(made);

    OrtAllocator* allocator = nullptr;
    check(api->GetAllocatorWithDefaultOptions(&allocator));
    char* inName = nullptr;
    char* outName = nullptr;
    check(api->SessionGetInputName(session, 0, allocator, &inName));
    check(api->SessionGetOutputName(session, 0, allocator, &outName));
    OrtValue* result = nullptr;
    const char* inNames[] = {inName};
    const char* outNames[] = {outName};
    OrtStatus* ran = api->Run(session, nullptr, inNames, &value, 1, outNames, 1, &result);
    for (char* name : {inName, outName})
        if (OrtStatus* freed = api->AllocatorFree(allocator, name)) api->ReleaseStatus(freed);
    api->ReleaseValue(value);
    check(ran);

    Tensor tensor;
    OrtTensorTypeAndShapeInfo* info = nullptr;
    OrtStatus* described = api->GetTensorTypeAndShape(result, &info);
    if (!described) {
        size_t count = 0, elements = 0;
        ONNXTensorElementDataType type{};
        check(api->GetDimensionsCount(info, &count));
        tensor.dims.resize(count);
        check(api->GetDimensions(info, tensor.dims.data(), count));
        check(api->GetTensorShapeElementCount(info, &elements));
        check(api->GetTensorElementType(info, &type));
        api->ReleaseTensorTypeAndShapeInfo(info);
        if (type != ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT) described = api->CreateStatus(ORT_FAIL, "not a float output");
        float* data = nullptr;
        if (!described) described = api->GetTensorMutableData(result, reinterpret_cast<void**>(&data));
        if (!described) tensor.values.assign(data, data + elements);
    }
    api->ReleaseValue(result);
    check(described);
    return tensor;
}
