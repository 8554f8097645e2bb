// Initialisation and descriptions. These exports never let an exception reach
// the host: they deliver their failure text instead.
#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "context/VelmoraClass.h"
#include "context/bounded_copy.h"

namespace {
VelmoraClass* live(VelmoraContext context) { return static_cast<VelmoraClass*>(context); }

constexpr char kBuildInfoFailure[] = "Error retrieving build info";
constexpr char kDeviceInfoFailure[] = "Error retrieving device info";
constexpr char kModelInfoFailure[] = "Error retrieving model info";
constexpr size_t kModelInfoLimit = 2048;
}  // namespace

extern "C" {

VELMORA_API void initializeVelmora(VelmoraContext context, const char* hostName, void*, char* buffer) {
    if (buffer) std::memcpy(buffer, kBuildInfoFailure, sizeof kBuildInfoFailure);
    if (!context) return;
    try {
        live(context)->initializeVelmora(hostName, buffer);
    } catch (...) {}
}

VELMORA_API float getVelmoraVersion(VelmoraContext, const char*, const char*, int32_t) {
    // Needs nothing of the context, so any handle (even null) gets the answer.
    return VelmoraClass::getVelmoraVersion();
}

VELMORA_API void getNNEngineInformation(VelmoraContext context, const char* hostName, char* buffer) {
    try {
        if (!context) throw std::invalid_argument("no context");
        live(context)->getNNEngineInformation(hostName, buffer);
    } catch (...) {
        if (buffer) copyTextBounded(buffer, kDeviceInfoFailure, 1000);
    }
}

VELMORA_API void getModelInformation(VelmoraContext context, void*, int32_t, char* buffer) {
    std::string text = kModelInfoFailure;
    try {
        if (context) text = live(context)->modelInformation();
    } catch (...) {
        text = kModelInfoFailure;
    }
    if (!buffer) return;
    const size_t n = std::min(text.size() + 1, kModelInfoLimit);
    std::memcpy(buffer, text.c_str(), n);
}

VELMORA_API char* getDeviceNameByIndex(VelmoraContext context, int32_t index) {
    try {
        if (!context || !live(context)->backend()) return nullptr;
        return live(context)->backend()->getDeviceNameByIndex(static_cast<uint32_t>(index));
    } catch (...) {
        return nullptr;
    }
}

}  // extern "C"
