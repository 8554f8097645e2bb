// Putting a model into a context and taking it out; releasing the float result.
#include "api/boundary.h"
#include "context/VelmoraClass.h"
#include "context/call_guard.h"

using boundary::atBoundary;

namespace {
VelmoraClass* live(VelmoraContext context) { return static_cast<VelmoraClass*>(context); }
using CallKind = ContextCalls::Kind;
}  // namespace

extern "C" {

VELMORA_API bool loadModel(VelmoraContext context, const void* modelData, uint32_t modelSize, const char* inputName,
                           const char* outputName) {
    return atBoundary([&] {
        if (!context) return false;
        const ContextCall call(live(context)->calls(), CallKind::Exclusive, VELMORA_THIS_FRAME, "loadModel");
        return call.admitted() && live(context)->loadModel(modelData, modelSize, inputName, outputName);
    });
}

VELMORA_API bool loadModelEx(VelmoraContext context, const void* modelData, uint32_t modelSize, const char* inputName,
                             const char* outputName, int32_t inputLayout, int32_t outputLayout) {
    return atBoundary([&] {
        if (!context) return false;
        const ContextCall call(live(context)->calls(), CallKind::Exclusive, VELMORA_THIS_FRAME, "loadModelEx");
        return call.admitted() &&
               live(context)->loadModelEx(modelData, modelSize, inputName, outputName, inputLayout, outputLayout);
    });
}

VELMORA_API void deallocateModel(VelmoraContext context) {
    atBoundary([&] {
        if (!context) return;
        const ContextCall call(live(context)->calls(), CallKind::Shared, VELMORA_THIS_FRAME, "deallocateModel");
        if (call.admitted()) live(context)->deallocateModel();
    });
}

VELMORA_API void deallocateImage(VelmoraContext context) {
    atBoundary([&] {
        if (!context) return;
        const ContextCall call(live(context)->calls(), CallKind::Shared, VELMORA_THIS_FRAME, "deallocateImage");
        if (call.admitted()) live(context)->deallocateImage();
    });
}

}  // extern "C"
