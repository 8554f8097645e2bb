#include "model_profile.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

#include "loaded_model.hpp"
#include "value_list.h"

namespace {

// Value |c| of a list of |n| as the library reads it: one value serves every
// channel, channels past a longer list take |fallback|.
float valueOf(const float* values, int32_t n, int32_t c, float fallback) {
    if (n == 1) return values[0];
    return c < n ? values[c] : fallback;
}

// MODEL.onnx.json, when there is one, as the model's profile.
bool readSidecar(VgLoadedModel* model, const char* modelPath, VgFailure* failure) {
    const std::string path = std::string(modelPath ? modelPath : "") + ".json";
    std::error_code error;
    if (!modelPath || !modelPath[0] || !std::filesystem::exists(path, error)) return true;
    std::ifstream in(path, std::ios::binary);
    if (!in) return vgFail(failure, "the profile %s cannot be read", path.c_str());
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const velmora::Status loaded = model->context.loadProfile(text);
    if (!loaded) return vgFail(failure, "the profile %s: %s", path.c_str(), loaded.error().words.c_str());
    return true;
}

}  // namespace

extern "C" bool vgUseProfile(VgLoadedModel* model, const char* modelPath, const char* mean, const char* std,
                             VgFailure* failure) {
    return vg::guarded(failure, [&] {
        if (!model->profileChosen) {
            if (!readSidecar(model, modelPath, failure)) return false;
            model->profileChosen = true;
        }
        const std::string meanText = mean ? mean : "", stdText = std ? std : "";
        if (meanText == model->mean && stdText == model->std) return true;
        float given[2][VG_MAX_LIST_VALUES];
        int32_t counts[2] = {0, 0};
        if (!vgParseValueList(meanText.c_str(), "mean", given[0], &counts[0], failure) ||
            !vgParseValueList(stdText.c_str(), "std", given[1], &counts[1], failure))
            return false;
        // The model's own first: the user's values replace only its mean and std.
        const velmora::Status cleared = model->context.setProfile(nullptr);
        if (!cleared) return vg::failed(failure, cleared.error());
        model->mean.clear();
        model->std.clear();
        if (counts[0] == 0 && counts[1] == 0) return true;
        const velmora::Result<VelmoraProfile> base = model->context.profile();
        if (!base) return vg::failed(failure, base.error());
        VelmoraProfile host = *base;
        host.channels = VELMORA_PROFILE_CHANNELS;
        for (int32_t c = 0; c < VELMORA_PROFILE_CHANNELS; ++c) {
            host.mean[c] =
                counts[0] ? valueOf(given[0], counts[0], c, 0.0f) : valueOf(base->mean, base->channels, c, 0.0f);
            host.std[c] =
                counts[1] ? valueOf(given[1], counts[1], c, 1.0f) : valueOf(base->std, base->channels, c, 1.0f);
        }
        const velmora::Status set = model->context.setProfile(&host);
        if (!set) return vg::failed(failure, set.error());
        model->mean = meanText;
        model->std = stdText;
        return true;
    });
}

extern "C" bool vgProfileInEffect(VgLoadedModel* model, VelmoraProfile* profile, VgFailure* failure) {
    return vg::guarded(failure, [&] {
        const velmora::Result<VelmoraProfile> got = model->context.profile();
        if (!got) return vg::failed(failure, got.error());
        *profile = *got;
        return true;
    });
}
