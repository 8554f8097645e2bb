// Making, querying and ending contexts.
#include <cstdlib>
#include <mutex>

#include <onnxruntime_cxx_api.h>

#include "api/boundary.h"
#include "backend/runtime_loader.h"
#include "context/VelmoraClass.h"
#include "context/bounded_copy.h"
#include "context/call_guard.h"

using boundary::atBoundary;

extern "C" {

VELMORA_API VelmoraContext createContext(int32_t unused, const char* callerName) {
    return atBoundary([&]() -> VelmoraContext {
        // Wrapper objects of the runtime's C++ header use this table. The
        // table never changes after load, so it is handed over once, whatever
        // thread makes the first context.
        static std::once_flag handedOver;
        if (ortApi) std::call_once(handedOver, [] { Ort::InitApi(ortApi); });
        return new VelmoraClass(unused, callerName, kBackendOnnx);
    });
}

VELMORA_API void deleteContext(VelmoraContext context) {
    atBoundary([&] { VelmoraClass::destroy(static_cast<VelmoraClass*>(context)); });
}

VELMORA_API void getErrorText(VelmoraContext context, char* buffer, int32_t length) {
    atBoundary([&] {
        if (!buffer) return;
        if (!context) {
            buffer[0] = 0;
            return;
        }
        VelmoraClass& c = *static_cast<VelmoraClass*>(context);
        const ContextCall call(c.calls(), ContextCalls::Kind::Shared, VELMORA_THIS_FRAME, "getErrorText");
        if (!call.admitted()) return;
        std::string text;
        if (!c.getErrorText(length, text)) return;
        copyTextBounded(buffer, text, static_cast<size_t>(std::llabs(static_cast<long long>(length) - 1)));
    });
}

}  // extern "C"
