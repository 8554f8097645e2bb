// Settings, version and descriptions for the host.
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <iostream>

#include "context/VelmoraClass.h"
#include "context/bounded_copy.h"
#include "context/build_information.h"
#include "diagnostics/settings_store.h"

namespace {
constexpr float kLibraryVersion = 1.207f;
constexpr const char* kEngineName = "Velmora ONNX";
constexpr size_t kHostTextLimit = 1000;
}  // namespace

void VelmoraClass::initializeVelmora(const char* host, char* buffer) {
    tiledRunCount = readRegistryInt(settingsFolder, "tilessplit", 0);
    loggingEnabled = readRegistryInt(settingsFolder, "logging", 0) != 0;
    hostName = host ? host : "";
    if (!modelLogic) {
        std::cout << "Velmora::initializeVelmora - modelLogicNotInitialized!\n";
        std::cout.flush();
    }
    if (buffer) copyTextBounded(buffer, buildInformation(), kHostTextLimit);
}

float VelmoraClass::getVelmoraVersion() { return kLibraryVersion; }

void VelmoraClass::getNNEngineInformation(const char* host, char* buffer) {
    hostName = host ? host : "";
    if (buffer) copyTextBounded(buffer, kEngineName, kHostTextLimit);
}

std::string VelmoraClass::modelInformation() {
    if (!modelLogic) throw std::logic_error("no backend");
    const uint64_t megabytes = static_cast<uint64_t>(modelLogic->getGpuMemory()) >> 20;
    return "Version: " + std::to_string(modelLogic->getModelVersion()) + "   GPURAM: " + std::to_string(megabytes) +
           " Mb";
}
