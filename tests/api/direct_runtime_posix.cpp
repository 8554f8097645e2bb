#include <dlfcn.h>
#include <onnxruntime_c_api.h>

#include <stdexcept>
#include <string>

#include "api/direct_runtime.h"

const OrtApi* directRuntimeApi() {
    static const OrtApi* api = [] {
        const std::string file = std::string(VELMORA_TEST_BIN) + "/libonnxruntime.so.1";
        void* library = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!library) throw std::runtime_error("cannot load " + file);
        auto base = reinterpret_cast<const OrtApiBase* (*)()>(dlsym(library, "OrtGetApiBase"));
        if (!base) throw std::runtime_error("no OrtGetApiBase in " + file);
        return base()->GetApi(ORT_API_VERSION);
    }();
    if (!api) throw std::runtime_error("the runtime has no API table of this version");
    return api;
}
