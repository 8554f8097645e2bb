#include "context/build_information.h"

#include <onnxruntime_c_api.h>

#include "backend/runtime_loader.h"
#include "velmora_version.h"

namespace {

constexpr size_t kLimit = 999;

const char* platformName() {
#if defined(_WIN32) && defined(_M_X64) || defined(_WIN64)
    return "Windows x64";
#elif defined(__linux__) && defined(__x86_64__)
    return "Linux x86-64";
#elif defined(__linux__)
    return "Linux";
#else
    return "unknown platform";
#endif
}

std::string executionProviders() {
    if (!ortApi) return "none";
    char** providers = nullptr;
    int count = 0;
    if (OrtStatus* status = ortApi->GetAvailableProviders(&providers, &count)) {
        ortApi->ReleaseStatus(status);
        return "unknown";
    }
    std::string list;
    for (int i = 0; i < count; ++i) {
        if (i) list += ", ";
        list += providers[i];
    }
    if (OrtStatus* status = ortApi->ReleaseAvailableProviders(providers, count)) ortApi->ReleaseStatus(status);
    return list.empty() ? "none" : list;
}

}  // namespace

std::string buildInformation() {
    std::string text = "Velmora " VELMORA_VERSION_TEXT ", built " __DATE__ " " __TIME__ "\n";
    text += "Platform: ";
    text += platformName();
    text += "\nONNX Runtime: ";
    if (ortApi) {
        text += runtimeVersion().empty() ? "loaded" : runtimeVersion();
        text += " (API " + std::to_string(kOrtApiVersion) + ")";
    } else {
        text += "not loaded: " + runtimeLoadFailure();
    }
    text += "\nExecution providers: " + executionProviders() + "\n";
    if (text.size() > kLimit) text.resize(kLimit);
    return text;
}
