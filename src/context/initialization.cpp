// Settings, version and descriptions for the host.
#include <stdexcept>

#include "context/VelmoraClass.h"
#include "context/bounded_copy.h"
#include "context/build_information.h"
#include "diagnostics/console_sink.h"
#include "diagnostics/settings_store.h"
#include "velmora_version.h"

namespace {
constexpr float kLibraryVersion = VELMORA_VERSION_NUMBER;
constexpr size_t kHostTextLimit = 1000;
}  // namespace

void VelmoraClass::initializeVelmora(const char*, char* buffer) {
    tiledRunCount = readRegistryInt(settingsFolder, "tilessplit", 0);
    loggingEnabled = readRegistryInt(settingsFolder, "logging", 0) != 0;
    // The backend applies the count when it next makes a session.
    const int32_t threads = readRegistryInt(settingsFolder, "threads", 0);
    if (modelLogic) modelLogic->setProcessorThreads(threads);
    if (!modelLogic) consoleLine("Velmora::initializeVelmora - modelLogicNotInitialized!");
    if (buffer) copyTextBounded(buffer, buildInformation(), kHostTextLimit);
}

float VelmoraClass::getVelmoraVersion() { return kLibraryVersion; }

void VelmoraClass::getNNEngineInformation(const char*, char* buffer) {
    if (buffer) copyTextBounded(buffer, kEngineName, kHostTextLimit);
}

std::string VelmoraClass::modelInformation() {
    if (!modelLogic) throw std::logic_error("no backend");
    const uint64_t megabytes = static_cast<uint64_t>(modelLogic->getGpuMemory()) >> 20;
    return "Version: " + std::to_string(modelLogic->getModelVersion()) + "   GPURAM: " + std::to_string(megabytes) +
           " Mb";
}
