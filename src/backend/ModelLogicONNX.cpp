#include "backend/ModelLogicONNX.h"

#include <cstdio>
#include <iostream>

#include "backend/backend_error_text.h"
#include "backend/gpu_devices.h"
#include "backend/ort_call.h"

ModelLogicONNX::ModelLogicONNX() {
    if (!ortApi) throw std::runtime_error(runtimeLoadFailure());
    ensureEnvironment();
    OrtSessionOptions* options = nullptr;
    try {
        throwOnError(ortApi->CreateSessionOptions(&options));
    } catch (...) {
        ortApi->ReleaseEnv(env);
        env = nullptr;
        throw;
    }
    sessionOptions = options;
}

void ModelLogicONNX::ensureEnvironment() {
    if (env) return;
    OwnedEnv created;
    {
        OrtEnv* raw = nullptr;
        throwOnError(ortApi->CreateEnvWithGlobalThreadPools(ORT_LOGGING_LEVEL_WARNING, "", nullptr, &raw));
        created.reset(raw);
    }
    throwOnError(ortApi->SetLanguageProjection(created.get(), ORT_PROJECTION_CPLUSPLUS));
    env = created.release();
}

ModelLogicONNX::~ModelLogicONNX() {
    std::cout << "Dealloc ModelLogicONNX" << std::endl;
    releaseSession();
    releaseImage(outputImage);
    releaseOutputTensors();
    if (sessionOptions) ortApi->ReleaseSessionOptions(sessionOptions);
    if (env) ortApi->ReleaseEnv(env);
}

void ModelLogicONNX::releaseSession() {
    if (session) ortApi->ReleaseSession(session);
    session = nullptr;
}

void ModelLogicONNX::releaseOutputTensors() {
    for (OrtValue* value : outputTensors) ortApi->ReleaseValue(value);
    outputTensors.clear();
}

void ModelLogicONNX::appendErrorText(std::string message) {
    appendBackendErrorText(std::move(message));
    ++errorCount;
}

std::string ModelLogicONNX::getErrorText() {
    errorCount = 0;
    return backendErrorTextCopy();
}

std::string ModelLogicONNX::getEngineInfo(int32_t* gpuCount) {
    if (gpuCount) *gpuCount = listAdapters(errorCount);
    return "ONNX";
}

char* ModelLogicONNX::getDeviceNameByIndex(uint32_t index) { return adapterName(index); }

bool ModelLogicONNX::fetchModelOutput(ImageFloat* record, int32_t index) {
    return getModelOutput(record, index) > 0;
}
