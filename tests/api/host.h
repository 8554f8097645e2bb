// What a host does around each call: a context that is always deleted, and
// the error text fetched as a host fetches it.
#pragma once

#include <string>
#include <vector>

#include "support/model_files.h"
#include "velmora.h"

class HostContext {
public:
    HostContext() : handle(createContext(0, "tests")) {}
    ~HostContext() { deleteContext(handle); }
    HostContext(const HostContext&) = delete;
    HostContext& operator=(const HostContext&) = delete;
    operator VelmoraContext() const { return handle; }

    // Loads a generated model; the bytes stay alive with the context.
    bool load(const std::string& name, int32_t inputLayout = 1, int32_t outputLayout = 1) {
        model = readModel(name);
        return loadModelEx(handle, model.data(), static_cast<uint32_t>(model.size()), "input", "output", inputLayout,
                           outputLayout);
    }

    std::string errors(int32_t length = 1 << 20) const {
        std::vector<char> buffer(static_cast<size_t>(length > 0 ? length : 4096), '\x7f');
        getErrorText(handle, buffer.data(), length);
        return std::string(buffer.data(), strnlen(buffer.data(), buffer.size()));
    }

private:
    VelmoraContext handle;
    std::vector<char> model;
};
