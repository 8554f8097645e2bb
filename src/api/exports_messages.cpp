// Where the library's and the runtime's messages go.
#include "api/boundary.h"
#include "diagnostics/host_sink.h"

using boundary::withSafetyNet;

extern "C" {

VELMORA_API void velmoraSetMessageSink(VelmoraMessageSink sink, void* userData, int32_t runtimeLevel) {
    withSafetyNet([&] { setHostSink(sink, userData, runtimeLevel); }, []() noexcept {});
}

}  // extern "C"
