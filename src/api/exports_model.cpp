// Putting a model into a context and taking it out; releasing the float result.
#include "api/boundary.h"
#include "context/VelmoraClass.h"

using boundary::atBoundary;

namespace {
VelmoraClass* live(VelmoraContext context) { return static_cast<VelmoraClass*>(context); }
}  // namespace

extern "C" {

VELMORA_API bool loadModel(VelmoraContext context, const void* modelData, uint32_t modelSize, const char* inputName,
                           const char* outputName) {
    return atBoundary([&] { return context && live(context)->loadModel(modelData, modelSize, inputName, outputName); });
}

VELMORA_API bool loadModelEx(VelmoraContext context, const void* modelData, uint32_t modelSize, const char* inputName,
                             const char* outputName, int32_t inputLayout, int32_t outputLayout) {
    return atBoundary([&] {
        return context &&
               live(context)->loadModelEx(modelData, modelSize, inputName, outputName, inputLayout, outputLayout);
    });
}

VELMORA_API void deallocateModel(VelmoraContext context) {
    atBoundary([&] {
        if (context) live(context)->deallocateModel();
    });
}

VELMORA_API void deallocateImage(VelmoraContext context) {
    atBoundary([&] {
        if (context) live(context)->deallocateImage();
    });
}

}  // extern "C"
