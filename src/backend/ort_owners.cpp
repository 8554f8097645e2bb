#include "backend/ort_owners.h"

#include <onnxruntime_c_api.h>

#include "backend/runtime_loader.h"

#define VELMORA_ORT_RELEASE(Type) \
    void Release##Type::operator()(Ort##Type* handle) const { ortApi->Release##Type(handle); }

VELMORA_ORT_RELEASE(Env)
VELMORA_ORT_RELEASE(SessionOptions)
VELMORA_ORT_RELEASE(Session)
VELMORA_ORT_RELEASE(Value)
VELMORA_ORT_RELEASE(MemoryInfo)
VELMORA_ORT_RELEASE(TypeInfo)
VELMORA_ORT_RELEASE(TensorTypeAndShapeInfo)
VELMORA_ORT_RELEASE(ModelMetadata)

#undef VELMORA_ORT_RELEASE
