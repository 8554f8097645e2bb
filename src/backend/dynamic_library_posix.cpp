#include "backend/dynamic_library.h"

#include <dlfcn.h>

#include <filesystem>

#include "diagnostics/console_sink.h"

namespace dynlib {

namespace {
std::string lastLoaderError() {
    const char* text = dlerror();
    return text ? text : "";
}
}  // namespace

std::string libraryFolder() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&libraryFolder), &info) == 0 || !info.dli_fname) {
        consoleLine("Error getting module handle: " + lastLoaderError(), Severity::error, ConsoleStream::error);
        return {};
    }
    std::error_code ec;
    std::filesystem::path path = std::filesystem::canonical(info.dli_fname, ec);
    if (ec) path = info.dli_fname;
    return parentFolder(path.string());
}

std::string parentFolder(const std::string& path) { return std::filesystem::path(path).parent_path().string(); }

const char* pathSeparator() { return "/"; }

Handle open(const std::string& path, std::string& error) {
    dlerror();
    Handle handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) error = lastLoaderError();
    return handle;
}

void* symbol(Handle handle, const char* name, std::string& error) {
    dlerror();
    void* address = dlsym(handle, name);
    if (!address) error = lastLoaderError();
    return address;
}

}  // namespace dynlib
