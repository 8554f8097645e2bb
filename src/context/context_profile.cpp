// The context's profiles: the model's metadata's, the sidecar's and the host's.
#include "context/VelmoraClass.h"
#include "diagnostics/console_sink.h"

namespace {
constexpr ProfileKeys kHostKeys{"mean", "std", "inputLow, inputHigh", "outputLow, outputHigh"};
}  // namespace

const ModelProfile& VelmoraClass::profile() const {
    if (profiles.host.source != ProfileSource::None) return profiles.host;
    if (profiles.sidecar.source != ProfileSource::None) return profiles.sidecar;
    return profiles.metadata;
}

Status VelmoraClass::setHostProfile(const ModelProfile* given) {
    // The model sees other values under another profile: what it needs is
    // measured again.
    if (!given) {
        profiles.host = {};
        forgetRuns();
        return Ok{};
    }
    if (Status s = checkProfile(*given, kHostKeys); !s) return s;
    profiles.host = *given;
    profiles.host.source = ProfileSource::Host;
    forgetRuns();
    return Ok{};
}

Status VelmoraClass::loadSidecarProfile(const std::string& text) {
    Expected<ModelProfile> read = parseProfileText(text);
    if (!read) return read.error();
    profiles.sidecar = *read;
    forgetRuns();
    return Ok{};
}

bool VelmoraClass::profilesAfterLoad(bool loaded) {
    profiles = {};
    // A refused load may leave the previous model in place, with its metadata.
    if (!modelLogic || !modelLogic->isModelLoaded()) return loaded;
    Expected<ModelProfile> read = profileFromMetadata(modelLogic->modelMetadata());
    // Words left for getErrorText would follow a load that succeeded, so the
    // console says why the model's profile is not used.
    if (read)
        profiles.metadata = *read;
    else
        consoleLine("Model profile ignored: " + read.message());
    return loaded;
}
