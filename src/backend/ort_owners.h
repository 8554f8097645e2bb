// One move-only owner per kind of runtime handle, as the runtime's own C++
// header has: each releases its handle through the process-wide API table
// when it goes. Only forward declarations here, so that headers holding
// owners need none of the runtime's headers.
#pragma once

#include <memory>

#define VELMORA_ORT_OWNER(Type)                   \
    struct Ort##Type;                             \
    struct Release##Type {                        \
        void operator()(Ort##Type* handle) const; \
    };                                            \
    using Owned##Type = std::unique_ptr<Ort##Type, Release##Type>;

VELMORA_ORT_OWNER(Env)
VELMORA_ORT_OWNER(SessionOptions)
VELMORA_ORT_OWNER(Session)
VELMORA_ORT_OWNER(Value)
VELMORA_ORT_OWNER(MemoryInfo)
VELMORA_ORT_OWNER(TypeInfo)
VELMORA_ORT_OWNER(TensorTypeAndShapeInfo)
VELMORA_ORT_OWNER(ModelMetadata)

#undef VELMORA_ORT_OWNER
