#include "backend/ModelLogicONNX.h"

#include <stdexcept>

#include "backend/backend_error_text.h"
#include "backend/gpu_devices.h"
#include "backend/ort_call.h"
#include "backend/runtime_log.h"
#include "diagnostics/console_sink.h"

OwnedEnv ModelLogicONNX::createEnvironment() {
    if (!ortApi) throw std::runtime_error(runtimeLoadFailure());
    OwnedEnv created = createRuntimeEnvironment();
    throwOnError(ortApi->SetLanguageProjection(created.get(), ORT_PROJECTION_CPLUSPLUS));
    return created;
}

ModelLogicONNX::ModelLogicONNX() : env(createEnvironment()) {
    throwOnError(ortApi->CreateSessionOptions(out(sessionOptions)));
    throwOnError(ortApi->CreateCpuMemoryInfo(OrtDeviceAllocator, OrtMemTypeCPU, out(memoryInfo)));
}

ModelLogicONNX::~ModelLogicONNX() { consoleLine("Dealloc ModelLogicONNX", Severity::verbose); }

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

bool ModelLogicONNX::fetchModelOutput(ImageFloat* record, int32_t index) { return getModelOutput(record, index) > 0; }
