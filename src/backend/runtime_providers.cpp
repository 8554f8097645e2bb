#include "backend/runtime_providers.h"

#include <onnxruntime_c_api.h>

#include "backend/runtime_loader.h"

namespace {

// The runtime's own array of names, given back when the copy is made or fails.
struct ProviderArray {
    char** names = nullptr;
    int count = 0;
    ProviderArray() = default;
    ProviderArray(const ProviderArray&) = delete;
    ProviderArray& operator=(const ProviderArray&) = delete;
    ~ProviderArray() {
        if (!names) return;
        if (OrtStatus* status = ortApi->ReleaseAvailableProviders(names, count)) ortApi->ReleaseStatus(status);
    }
};

}  // namespace

Expected<std::vector<std::string>> availableProviders() {
    if (!ortApi) return failure("the runtime is not loaded");
    ProviderArray array;
    if (OrtStatus* status = ortApi->GetAvailableProviders(&array.names, &array.count)) {
        std::string message = ortApi->GetErrorMessage(status);
        ortApi->ReleaseStatus(status);
        return failure(std::move(message));
    }
    return std::vector<std::string>(array.names, array.names + array.count);
}
