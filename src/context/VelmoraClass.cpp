#include "context/VelmoraClass.h"

#include "context/call_guard.h"

#include "backend/ModelLogicONNX.h"
#include "backend/runtime_loader.h"

namespace {
// Without a runtime there is no backend; the reason is reported by the first
// error fetch instead of failing the host.
std::unique_ptr<ModelLogic> makeBackend(int32_t backendKind) {
    if (backendKind == kBackendOnnx && ortApi) return std::make_unique<ModelLogicONNX>();
    return nullptr;
}
}  // namespace

VelmoraClass::VelmoraClass(int32_t, const char*, int32_t backendKind) : VelmoraClass(makeBackend(backendKind)) {}

VelmoraClass::VelmoraClass(std::unique_ptr<ModelLogic> backend, ThreadSource threads)
    : modelLogic(std::move(backend)), pasteThreads(threads) {
    if (!modelLogic) errorText += "VelmoraClass: modelLogic is null!";
}

void VelmoraClass::destroy(VelmoraClass* context) {
    if (context && context->hostCalls > 0)
        context->deleted = true;
    else
        delete context;
}

bool VelmoraClass::Progress::heard(void* self, float percent) {
    const Progress& progress = *static_cast<const Progress*>(self);
    // A call the host makes from its callback is inside this one.
    const Callout callout(VELMORA_THIS_FRAME);
    const bool stop = progress.callback(progress.userData, percent);
    return stop || progress.context.deleted;
}

bool VelmoraClass::getErrorText(int32_t length, std::string& text) {
    switch (length) {
        case -256: return false;
        case -11: text.clear(); return true;
        case -12: text = __DATE__; return true;  // "Mmm dd yyyy"
        default: break;
    }
    text = modelLogic ? modelLogic->getErrorText() : runtimeLoadFailure();
    errorText += contextCalls.takeRefusals();
    if (!errorText.empty()) {
        text += '\n';
        text += errorText;
    }
    errorText.clear();
    return true;
}

bool VelmoraClass::loadModel(const void* modelData, uint32_t modelSize, const char* inputName, const char* outputName) {
    if (!modelLogic) return false;
    learnedResult = {};
    forgetRuns();
    return profilesAfterLoad(
        modelLogic->loadModel(modelData, modelSize, inputName ? inputName : "", outputName ? outputName : ""));
}

bool VelmoraClass::loadModelEx(const void* modelData, uint32_t modelSize, const char* inputName, const char* outputName,
                               int32_t inputLayout, int32_t outputLayout) {
    if (!modelLogic) return false;
    learnedResult = {};
    forgetRuns();
    return profilesAfterLoad(modelLogic->loadModelEx(modelData, modelSize, inputName ? inputName : "",
                                                     outputName ? outputName : "", inputLayout, outputLayout));
}

void VelmoraClass::deallocateModel() {
    bandCarry.reset();
    if (modelLogic) modelLogic->deallocateModel();
}

void VelmoraClass::deallocateImage() {
    outputFloatFull.reset();
    ++resultReleases;
}

ModelDescription VelmoraClass::modelDescription() {
    return modelLogic ? modelLogic->description() : ModelDescription{};
}

TiledFacts VelmoraClass::modelTiledFacts() {
    return tiledFacts(modelDescription(), learnedResult.scale, learnedResult.channels);
}
