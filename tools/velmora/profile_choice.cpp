#include "profile_choice.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::vector<float> listOf(const float* values, int32_t count) {
    return std::vector<float>(values, values + std::clamp(count, 0, VELMORA_PROFILE_CHANNELS));
}

// `list` as `n` values: one value serves all, none gives `fill`.
std::vector<float> spread(const std::vector<float>& list, size_t n, float fill) {
    if (list.empty()) return std::vector<float>(n, fill);
    if (list.size() == 1) return std::vector<float>(n, list[0]);
    return list;
}

std::string numbers(const float* values, int32_t count) {
    std::string text;
    for (int32_t i = 0; i < count; ++i) {
        char v[32];
        std::snprintf(v, sizeof v, "%g", static_cast<double>(values[i]));
        text += (i ? ", " : "") + std::string(v);
    }
    return text;
}

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error(path.string() + ": cannot be opened for reading");
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

const char* outputName(int32_t code) {
    return code == VELMORA_OUTPUT_MASK ? "mask" : code == VELMORA_OUTPUT_SCORES ? "scores" : "image";
}

}  // namespace

const char* outputRoleName(int32_t code) {
    return code == VELMORA_OUTPUT_MASK ? "a mask" : code == VELMORA_OUTPUT_SCORES ? "class scores" : "an image";
}

fs::path sidecarFor(const fs::path& model, const Options& o) {
    if (!o.profile.empty()) return o.profile;
    fs::path beside = model;
    beside += ".json";
    std::error_code ec;
    return fs::is_regular_file(beside, ec) ? beside : fs::path();
}

VelmoraProfile withOverrides(VelmoraProfile p, const Options& o) {
    if (!o.mean.empty() || !o.deviation.empty()) {
        const std::vector<float> mean = o.mean.empty() ? listOf(p.mean, p.channels) : o.mean;
        const std::vector<float> deviation = o.deviation.empty() ? listOf(p.std, p.channels) : o.deviation;
        const std::string meanName = o.mean.empty() ? "the profile's mean" : "--mean";
        const std::string stdName = o.deviation.empty() ? "the profile's std" : "--std";
        if (mean.size() > 1 && deviation.size() > 1 && mean.size() != deviation.size())
            throw std::runtime_error(meanName + " gives " + std::to_string(mean.size()) + " values and " + stdName +
                                     " " + std::to_string(deviation.size()));
        const size_t n = std::max(mean.size(), deviation.size());
        const std::vector<float> m = spread(mean, n, 0.0f), d = spread(deviation, n, 1.0f);
        p.channels = static_cast<int32_t>(n);
        std::copy(m.begin(), m.end(), p.mean);
        std::copy(d.begin(), d.end(), p.std);
    }
    switch (o.outputRole) {
        case OutputRole::Image: p.output = VELMORA_OUTPUT_IMAGE; break;
        case OutputRole::Mask: p.output = VELMORA_OUTPUT_MASK; break;
        case OutputRole::Scores: p.output = VELMORA_OUTPUT_SCORES; break;
        case OutputRole::FromProfile: break;
    }
    return p;
}

ChosenProfile setUpProfile(velmora::Context& context, const fs::path& model, const Options& o) {
    const fs::path sidecar = sidecarFor(model, o);
    if (!sidecar.empty()) {
        std::error_code ec;
        if (!fs::exists(sidecar, ec)) throw std::runtime_error(sidecar.string() + ": no such profile file");
        const velmora::Status loaded = context.loadProfile(readText(sidecar));
        if (!loaded) throw std::runtime_error(sidecar.string() + ": " + loaded.error().words);
    }
    velmora::Result<VelmoraProfile> own = context.profile();
    if (!own) throw std::runtime_error(own.error().words);
    ChosenProfile chosen{*own, {}};
    chosen.origin = own->source == VELMORA_PROFILE_SIDECAR    ? "the sidecar " + sidecar.string()
                    : own->source == VELMORA_PROFILE_METADATA ? "the model's metadata"
                                                              : "none";
    if (!o.mean.empty() || !o.deviation.empty() || o.outputRole != OutputRole::FromProfile) {
        const VelmoraProfile laid = withOverrides(*own, o);
        const velmora::Status set = context.setProfile(&laid);
        if (!set) throw std::runtime_error(set.error().words);
        velmora::Result<VelmoraProfile> now = context.profile();
        if (!now) throw std::runtime_error(now.error().words);
        chosen.profile = *now;
        std::string given;
        if (!o.mean.empty()) given = "--mean";
        if (!o.deviation.empty()) given += (given.empty() ? "" : ", ") + std::string("--std");
        if (o.outputRole != OutputRole::FromProfile)
            given += (given.empty() ? "" : ", ") + std::string("--output-role");
        chosen.origin = given + (chosen.origin == "none" ? "" : " over " + chosen.origin);
    }
    return chosen;
}

std::string profileText(const VelmoraProfile& p) {
    std::vector<std::string> parts;
    if (p.channels > 0) {
        parts.push_back("mean " + numbers(p.mean, p.channels));
        parts.push_back("std " + numbers(p.std, p.channels));
    }
    if (p.inputLow != 0.0f || p.inputHigh != 1.0f) {
        const float range[] = {p.inputLow, p.inputHigh};
        parts.push_back("input range " + numbers(range, 2));
    }
    if (p.colors == VELMORA_COLORS_BGR) parts.push_back("colours bgr");
    parts.push_back(std::string("output ") + outputName(p.output));
    if (p.output == VELMORA_OUTPUT_IMAGE && (p.outputLow != 0.0f || p.outputHigh != 1.0f)) {
        const float range[] = {p.outputLow, p.outputHigh};
        parts.push_back("output range " + numbers(range, 2));
    }
    std::string text;
    for (const std::string& part : parts) text += (text.empty() ? "" : "; ") + part;
    return text;
}
