// The prediction exports: each forwards to the context operation of its name.
#include "api/boundary.h"
#include "context/VelmoraClass.h"

using boundary::atBoundary;

namespace {
VelmoraClass* live(VelmoraContext context) { return static_cast<VelmoraClass*>(context); }

// The tiled paths call the host back, and the host may delete the context
// there. The call is held inside the boundary's body, so that it ends (and
// destroys such a context) before an exception is raised in the host's form.
using HostCall = VelmoraClass::HostCall;
}  // namespace

extern "C" {

VELMORA_API unsigned char* predict(VelmoraContext context, float* data, int32_t width, int32_t height,
                                   int32_t numChannels, bool argmax) {
    return atBoundary([&]() -> unsigned char* {
        return context ? live(context)->predict(data, width, height, numChannels, argmax) : nullptr;
    });
}

VELMORA_API float* predictFloat(VelmoraContext context, float* data, int32_t width, int32_t height, int32_t numChannels,
                                bool) {
    return atBoundary(
        [&]() -> float* { return context ? live(context)->predictFloat(data, width, height, numChannels) : nullptr; });
}

VELMORA_API float* predict2InputsFloat(VelmoraContext context, float* data1, float* data2, int32_t width,
                                       int32_t height, int32_t numChannels) {
    return atBoundary([&]() -> float* {
        return context ? live(context)->predict2InputsFloat(data1, data2, width, height, numChannels) : nullptr;
    });
}

VELMORA_API float* predict3InputsFloat(VelmoraContext context, ImageFloat input1, ImageFloat input2,
                                       ImageFloat input3) {
    return atBoundary(
        [&]() -> float* { return context ? live(context)->predict3InputsFloat(input1, input2, input3) : nullptr; });
}

VELMORA_API ImageFloat predictByTilesImageFloat(VelmoraContext context, ImageFloat image, int32_t tileSize,
                                                int32_t step, int32_t downscale, ProgressCallback callback,
                                                void* userData) {
    return atBoundary([&] {
        if (!context) return ImageFloat{0, 0, 0, nullptr};
        const HostCall call(*live(context));
        return live(context)->predictByTilesImageFloat(image, tileSize, step, downscale, callback, userData);
    });
}

VELMORA_API float* predictByTilesFloat(VelmoraContext context, float* data, int32_t width, int32_t height,
                                       int32_t numChannels, int32_t tileSize, int32_t step, int32_t downscale,
                                       ProgressCallback callback, void* userData) {
    return atBoundary([&]() -> float* {
        if (!context) return nullptr;
        const HostCall call(*live(context));
        return live(context)->predictByTilesFloat(data, width, height, numChannels, tileSize, step, downscale, callback,
                                                  userData);
    });
}

VELMORA_API unsigned char* predictByTiles(VelmoraContext context, unsigned char* data, int32_t width, int32_t height,
                                          int32_t numChannels, int32_t tileSize, int32_t step, bool argmax,
                                          float inputScale, float outputScale, int32_t downscale,
                                          ProgressCallback callback, void* userData) {
    return atBoundary([&]() -> unsigned char* {
        if (!context) return nullptr;
        const HostCall call(*live(context));
        return live(context)->predictByTiles(data, width, height, numChannels, tileSize, step, argmax, inputScale,
                                             outputScale, downscale, callback, userData);
    });
}

}  // extern "C"
