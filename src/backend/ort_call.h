// Thin helpers over the runtime's C API table: failures become Ort::Exception,
// and temporary handles are released by owners in the style of the runtime's
// own C++ header.
#pragma once

#include <onnxruntime_cxx_api.h>

#include <memory>

#include "backend/runtime_loader.h"

inline void throwOnError(OrtStatus* status) {
    if (!status) return;
    std::string message = ortApi->GetErrorMessage(status);
    const OrtErrorCode code = ortApi->GetErrorCode(status);
    ortApi->ReleaseStatus(status);
    throw Ort::Exception(std::move(message), code);
}

// For calls whose failure changes nothing for the caller.
inline void ignoreError(OrtStatus* status) {
    if (status) ortApi->ReleaseStatus(status);
}

#define VELMORA_ORT_OWNER(Type)                                              \
    struct Release##Type {                                                   \
        void operator()(Ort##Type* p) const {                                \
            if (p) ortApi->Release##Type(p);                                 \
        }                                                                    \
    };                                                                       \
    using Owned##Type = std::unique_ptr<Ort##Type, Release##Type>;

VELMORA_ORT_OWNER(MemoryInfo)
VELMORA_ORT_OWNER(Value)
VELMORA_ORT_OWNER(TypeInfo)
VELMORA_ORT_OWNER(TensorTypeAndShapeInfo)
VELMORA_ORT_OWNER(SessionOptions)
VELMORA_ORT_OWNER(Session)
VELMORA_ORT_OWNER(Env)

#undef VELMORA_ORT_OWNER
