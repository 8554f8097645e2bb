// Initialisation and descriptions. These exports never let an exception reach
// the host: they deliver their failure text instead.
#include <algorithm>
#include <cstring>

#include "api/boundary.h"
#include "context/VelmoraClass.h"
#include "context/bounded_copy.h"
#include "context/call_guard.h"

using boundary::atBoundary;
using boundary::withSafetyNet;

namespace {
VelmoraClass* live(VelmoraContext context) { return static_cast<VelmoraClass*>(context); }

constexpr char kBuildInfoFailure[] = "Error retrieving build info";
constexpr char kDeviceInfoFailure[] = "Error retrieving device info";
constexpr char kModelInfoFailure[] = "Error retrieving model info";
constexpr size_t kDeviceInfoLimit = 1000;
constexpr size_t kModelInfoLimit = 2048;

// The bounded copy of a failure text, which must not need memory of its own.
template <size_t N>
void copyFailureBounded(char* buffer, const char (&text)[N], size_t limit) noexcept {
    const size_t n = std::min(N - 1, limit);
    std::memcpy(buffer, text, n);
    if (n < limit) std::memset(buffer + n, 0, limit - n);
}

void copyModelInformation(char* buffer, const char* text, size_t size) noexcept {
    std::memcpy(buffer, text, std::min(size + 1, kModelInfoLimit));
}
}  // namespace

extern "C" {

VELMORA_API void initializeVelmora(VelmoraContext context, const char* hostName, void*, char* buffer) {
    if (buffer) std::memcpy(buffer, kBuildInfoFailure, sizeof kBuildInfoFailure);
    if (!context) return;
    withSafetyNet(
        [&] {
            const ContextCall call(live(context)->calls(), ContextCalls::Kind::Shared, VELMORA_THIS_FRAME,
                                   "initializeVelmora");
            if (call.admitted()) live(context)->initializeVelmora(hostName, buffer);
        },
        []() noexcept {});
}

VELMORA_API float getVelmoraVersion(VelmoraContext, const char*, const char*, int32_t) {
    // Needs nothing of the context, so any handle (even null) gets the answer.
    return atBoundary([] { return VelmoraClass::getVelmoraVersion(); });
}

VELMORA_API void getNNEngineInformation(VelmoraContext context, const char* hostName, char* buffer) {
    auto failed = [&]() noexcept {
        if (buffer) copyFailureBounded(buffer, kDeviceInfoFailure, kDeviceInfoLimit);
    };
    withSafetyNet(
        [&] {
            if (!context) return failed();
            const ContextCall call(live(context)->calls(), ContextCalls::Kind::Shared, VELMORA_THIS_FRAME,
                                   "getNNEngineInformation");
            if (!call.admitted()) return failed();
            live(context)->getNNEngineInformation(hostName, buffer);
        },
        failed);
}

VELMORA_API void getModelInformation(VelmoraContext context, void*, int32_t details, char* buffer) {
    auto failed = [&]() noexcept {
        if (buffer) copyModelInformation(buffer, kModelInfoFailure, sizeof kModelInfoFailure - 1);
    };
    withSafetyNet(
        [&] {
            if (!context) return failed();
            const ContextCall call(live(context)->calls(), ContextCalls::Kind::Shared, VELMORA_THIS_FRAME,
                                   "getModelInformation");
            if (!call.admitted()) return failed();
            const std::string text = live(context)->modelInformation(details == VELMORA_MODEL_DETAILS);
            if (buffer) copyModelInformation(buffer, text.c_str(), text.size());
        },
        failed);
}

VELMORA_API char* getDeviceNameByIndex(VelmoraContext context, int32_t index) {
    return withSafetyNet(
        [&]() -> char* {
            if (!context || !live(context)->backend()) return nullptr;
            const ContextCall call(live(context)->calls(), ContextCalls::Kind::Shared, VELMORA_THIS_FRAME,
                                   "getDeviceNameByIndex");
            if (!call.admitted()) return nullptr;
            return live(context)->backend()->getDeviceNameByIndex(static_cast<uint32_t>(index));
        },
        []() noexcept -> char* { return nullptr; });
}

}  // extern "C"
