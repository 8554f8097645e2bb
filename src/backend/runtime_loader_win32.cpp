// DirectML is loaded from the library's folder together with the runtime,
// whether or not a graphics device is ever used.
#include "backend/dml_declarations.h"
#include "backend/dynamic_library.h"
#include "backend/runtime_loader.h"

namespace {
// Constant-initialised, so it is valid before any static constructor runs.
DmlCreateDeviceFn createDeviceEntry = nullptr;
}  // namespace

const char* runtimeFileName() { return "onnxruntime.dll"; }

bool loadPlatformLibraries(std::string& failure) {
    std::string error;
    // Kept loaded for the life of the process, like the runtime: the
    // runtime's sessions hold DirectML devices.
    dynlib::Handle directml = dynlib::open(dynlib::libraryFolder() + dynlib::pathSeparator() + "DirectML.dll", error);
    if (!directml) {
        failure = "Library loading failed, OS reports: " + error;
        return false;
    }
    void* entry = dynlib::symbol(directml, "DMLCreateDevice", error);
    if (!entry) {
        failure = "Retrieving the functionpointer failed, OS reports: " + error;
        return false;
    }
    createDeviceEntry = reinterpret_cast<DmlCreateDeviceFn>(entry);
    return true;
}

DmlCreateDeviceFn dmlCreateDeviceEntry() { return createDeviceEntry; }
