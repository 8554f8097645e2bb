// Settings, version and descriptions for the host.
#include <stdexcept>

#include "backend/tensor_elements.h"
#include "context/VelmoraClass.h"
#include "context/bounded_copy.h"
#include "context/build_information.h"
#include "diagnostics/console_sink.h"
#include "diagnostics/settings_store.h"
#include "tiling/tile_layout.h"
#include "velmora_version.h"

namespace {
constexpr float kLibraryVersion = VELMORA_VERSION_NUMBER;
constexpr size_t kHostTextLimit = 1000;
constexpr size_t kModelTextLimit = 2047;  // the host's 2048 bytes with the terminating zero

// The model's inputs and outputs, a line each: name, element type, shape
// ("?" where open) and layout. Empty without a model.
std::string modelText(const ModelDescription& model) {
    if (!model.known) return {};
    std::string text;
    auto describe = [&](const char* side, const std::vector<TensorDescription>& tensors, int32_t code) {
        for (const TensorDescription& t : tensors) {
            text += std::string(side) + " \"" + t.name +
                    "\": " + elementTypeName(static_cast<ONNXTensorElementDataType>(t.elementType)) + " " +
                    shapeText(t.declared);
            if (t.declared.size() == 4)
                text +=
                    declaredLayout(t.declared, code) == Layout::ChannelsFirst ? ", channels-first" : ", channels-last";
            text += "\n";
        }
    };
    describe("Input", model.inputs, model.inputLayout);
    describe("Output", model.outputs, model.outputLayout);
    return text;
}
}  // namespace

void VelmoraClass::initializeVelmora(const char*, char* buffer) {
    tiledRunCount = readRegistryInt(settingsFolder, "tilessplit", 0);
    loggingEnabled = readRegistryInt(settingsFolder, "logging", 0) != 0;
    // The backend applies the count when it next makes a session.
    const int32_t threads = readRegistryInt(settingsFolder, "threads", 0);
    if (modelLogic) modelLogic->setProcessorThreads(threads);
    if (!modelLogic) consoleLine("Velmora::initializeVelmora - modelLogicNotInitialized!", Severity::error);
    if (buffer) copyTextBounded(buffer, buildInformation(), kHostTextLimit);
}

float VelmoraClass::getVelmoraVersion() { return kLibraryVersion; }

void VelmoraClass::getNNEngineInformation(const char*, char* buffer) {
    if (buffer) copyTextBounded(buffer, kEngineName, kHostTextLimit);
}

std::string VelmoraClass::modelInformation(bool details) {
    if (!modelLogic) throw std::logic_error("no backend");
    const uint64_t megabytes = static_cast<uint64_t>(modelLogic->getGpuMemory()) >> 20;
    std::string text =
        "Version: " + std::to_string(modelLogic->getModelVersion()) + "   GPURAM: " + std::to_string(megabytes) + " Mb";
    if (!details) return text;
    // The result's sizes first, so that a long model description never
    // crowds them out of the host's buffer.
    const TiledResultSizes& r = lastTiledResult;
    text += "\nLast tiled result: ";
    text += r.width > 0 ? std::to_string(r.width) + " x " + std::to_string(r.height) + " x " +
                              std::to_string(r.numChannels) + " (scale " + std::to_string(r.scale) + ")"
                        : std::string("none");
    text += "\n" + modelText(modelLogic->description());
    if (text.size() > kModelTextLimit) text.resize(kModelTextLimit);
    return text;
}
