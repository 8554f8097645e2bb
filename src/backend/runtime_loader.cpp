#include "backend/runtime_loader.h"

#include <onnxruntime_c_api.h>

#include "backend/dynamic_library.h"

const OrtApi* ortApi = nullptr;

namespace {

struct RuntimeLibrary {
    dynlib::Handle handle = nullptr;
    std::string failure;
    std::string version;

    RuntimeLibrary() {
        // A failure here must not abort the host: it is kept and reported by
        // every context instead.
        try {
            load();
        } catch (...) {
            failure = "Library loading failed, OS reports: out of memory";
        }
    }

    // The runtime stays loaded until the process ends: contexts a host never
    // deleted still hold runtime objects whose threads and destructors need
    // its code at exit.

    void load() {
        std::string error;
        const std::string path = dynlib::libraryFolder() + dynlib::pathSeparator() + runtimeFileName();
        handle = dynlib::open(path, error);
        if (!handle) {
            failure = "Library loading failed, OS reports: " + error;
            return;
        }
        using GetApiBaseFn = const OrtApiBase* (*)();
        auto getApiBase = reinterpret_cast<GetApiBaseFn>(dynlib::symbol(handle, "OrtGetApiBase", error));
        if (!getApiBase) {
            failure = "Retrieving the functionpointer failed, OS reports: " + error;
            return;
        }
        const OrtApiBase* base = getApiBase();
        const OrtApi* api = base ? base->GetApi(kOrtApiVersion) : nullptr;
        if (!api) {
            failure = std::string("The ONNX Runtime library (version ") +
                      (base ? base->GetVersionString() : "unknown") + ") does not offer API version " +
                      std::to_string(kOrtApiVersion);
            return;
        }
        if (base->GetVersionString) version = base->GetVersionString();
        // Without its companions the runtime is not used at all, not even on
        // the processor.
        if (!loadPlatformLibraries(failure)) return;
        ortApi = api;
    }
};

RuntimeLibrary& runtimeLibrary() {
    static RuntimeLibrary library;
    return library;
}

// Load at library load time, before any export runs.
[[maybe_unused]] const RuntimeLibrary& loadedAtStart = runtimeLibrary();

}  // namespace

const std::string& runtimeLoadFailure() { return runtimeLibrary().failure; }

const std::string& runtimeVersion() { return runtimeLibrary().version; }
