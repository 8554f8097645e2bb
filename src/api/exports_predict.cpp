// The prediction exports: each forwards to the context operation of its name.
#include "api/boundary.h"
#include "context/VelmoraClass.h"
#include "context/call_guard.h"

using boundary::atBoundary;

namespace {
VelmoraClass* live(VelmoraContext context) { return static_cast<VelmoraClass*>(context); }

// The tiled paths call the host back, and the host may delete the context
// there. The call is held inside the boundary's body, so that it ends (and
// destroys such a context) before an exception is raised in the host's form.
using HostCall = VelmoraClass::HostCall;
using CallKind = ContextCalls::Kind;
}  // namespace

extern "C" {

VELMORA_API unsigned char* predict(VelmoraContext context, float* data, int32_t width, int32_t height,
                                   int32_t numChannels, bool argmax) {
    return atBoundary([&]() -> unsigned char* {
        if (!context) return nullptr;
        const ContextCall call(live(context)->calls(), CallKind::Exclusive, VELMORA_THIS_FRAME, "predict");
        return call.admitted() ? live(context)->predict(data, width, height, numChannels, argmax) : nullptr;
    });
}

VELMORA_API float* predictFloat(VelmoraContext context, float* data, int32_t width, int32_t height, int32_t numChannels,
                                bool) {
    return atBoundary([&]() -> float* {
        if (!context) return nullptr;
        const ContextCall call(live(context)->calls(), CallKind::Exclusive, VELMORA_THIS_FRAME, "predictFloat");
        return call.admitted() ? live(context)->predictFloat(data, width, height, numChannels) : nullptr;
    });
}

VELMORA_API float* predict2InputsFloat(VelmoraContext context, float* data1, float* data2, int32_t width,
                                       int32_t height, int32_t numChannels) {
    return atBoundary([&]() -> float* {
        if (!context) return nullptr;
        const ContextCall call(live(context)->calls(), CallKind::Exclusive, VELMORA_THIS_FRAME, "predict2InputsFloat");
        return call.admitted() ? live(context)->predict2InputsFloat(data1, data2, width, height, numChannels) : nullptr;
    });
}

VELMORA_API float* predict3InputsFloat(VelmoraContext context, ImageFloat input1, ImageFloat input2,
                                       ImageFloat input3) {
    return atBoundary([&]() -> float* {
        if (!context) return nullptr;
        const ContextCall call(live(context)->calls(), CallKind::Exclusive, VELMORA_THIS_FRAME, "predict3InputsFloat");
        return call.admitted() ? live(context)->predict3InputsFloat(input1, input2, input3) : nullptr;
    });
}

VELMORA_API ImageFloat predictByTilesImageFloat(VelmoraContext context, ImageFloat image, int32_t tileSize,
                                                int32_t step, int32_t downscale, ProgressCallback callback,
                                                void* userData) {
    return atBoundary([&] {
        if (!context) return ImageFloat{0, 0, 0, nullptr};
        // Ends after the admission, so that a context deleted from the
        // callback goes only once nothing of it is held.
        const HostCall call(*live(context));
        const ContextCall admitted(live(context)->calls(), CallKind::Exclusive, VELMORA_THIS_FRAME,
                                   "predictByTilesImageFloat");
        if (!admitted.admitted()) return ImageFloat{0, 0, 0, nullptr};
        return live(context)->predictByTilesImageFloat(image, tileSize, step, downscale, callback, userData);
    });
}

VELMORA_API float* predictByTilesFloat(VelmoraContext context, float* data, int32_t width, int32_t height,
                                       int32_t numChannels, int32_t tileSize, int32_t step, int32_t downscale,
                                       ProgressCallback callback, void* userData) {
    return atBoundary([&]() -> float* {
        if (!context) return nullptr;
        // Ends after the admission, so that a context deleted from the
        // callback goes only once nothing of it is held.
        const HostCall call(*live(context));
        const ContextCall admitted(live(context)->calls(), CallKind::Exclusive, VELMORA_THIS_FRAME,
                                   "predictByTilesFloat");
        if (!admitted.admitted()) return nullptr;
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
        // Ends after the admission, so that a context deleted from the
        // callback goes only once nothing of it is held.
        const HostCall call(*live(context));
        const ContextCall admitted(live(context)->calls(), CallKind::Exclusive, VELMORA_THIS_FRAME, "predictByTiles");
        if (!admitted.admitted()) return nullptr;
        return live(context)->predictByTiles(data, width, height, numChannels, tileSize, step, argmax, inputScale,
                                             outputScale, downscale, callback, userData);
    });
}

}  // extern "C"
