// The model's profile. These exports never let an exception reach the host:
// a failure is false, with words for getErrorText.
#include <algorithm>
#include <string>

#include "api/host_records.h"
#include "api/velmora_call.h"
#include "context/VelmoraClass.h"

namespace {

constexpr const char* kGet = "velmoraGetProfile";
constexpr const char* kSet = "velmoraSetProfile";
constexpr const char* kLoad = "velmoraLoadProfile";

bool modelLoaded(VelmoraClass& c, const char* who) {
    if (c.backend() && c.backend()->isModelLoaded()) return true;
    c.report(who, "no model is loaded");
    return false;
}

VelmoraProfile toRecord(const ModelProfile& p) {
    VelmoraProfile r{};
    r.channels = static_cast<int32_t>(std::min(p.mean.size(), size_t{VELMORA_PROFILE_CHANNELS}));
    for (int32_t c = 0; c < r.channels; ++c) {
        r.mean[c] = p.mean[c];
        r.std[c] = p.std[c];
    }
    r.inputLow = p.inputLow;
    r.inputHigh = p.inputHigh;
    r.colors = p.bgr ? VELMORA_COLORS_BGR : VELMORA_COLORS_RGB;
    r.output = p.output == OutputRole::Mask     ? VELMORA_OUTPUT_MASK
               : p.output == OutputRole::Scores ? VELMORA_OUTPUT_SCORES
                                                : VELMORA_OUTPUT_IMAGE;
    r.outputLow = p.outputLow;
    r.outputHigh = p.outputHigh;
    r.source = static_cast<int32_t>(p.source);  // the enum follows the VELMORA_PROFILE_* codes
    return r;
}

// The record's codes as a profile; the values are checked by the context.
Expected<ModelProfile> fromRecord(const VelmoraProfile& r) {
    if (r.channels < 0 || r.channels > VELMORA_PROFILE_CHANNELS)
        return failure("channels is " + std::to_string(r.channels) + "; it is 0 to " +
                       std::to_string(VELMORA_PROFILE_CHANNELS));
    if (r.colors != VELMORA_COLORS_RGB && r.colors != VELMORA_COLORS_BGR)
        return failure("colors is " + std::to_string(r.colors) + "; it is VELMORA_COLORS_RGB or VELMORA_COLORS_BGR");
    if (r.output < VELMORA_OUTPUT_IMAGE || r.output > VELMORA_OUTPUT_SCORES)
        return failure("output is " + std::to_string(r.output) + "; it is one of VELMORA_OUTPUT_*");
    ModelProfile p;
    p.mean.assign(r.mean, r.mean + r.channels);
    p.std.assign(r.std, r.std + r.channels);
    p.inputLow = r.inputLow;
    p.inputHigh = r.inputHigh;
    p.bgr = r.colors == VELMORA_COLORS_BGR;
    p.output = r.output == VELMORA_OUTPUT_MASK     ? OutputRole::Mask
               : r.output == VELMORA_OUTPUT_SCORES ? OutputRole::Scores
                                                   : OutputRole::Image;
    p.outputLow = r.outputLow;
    p.outputHigh = r.outputHigh;
    return p;
}

static_assert(static_cast<int32_t>(ProfileSource::Metadata) == VELMORA_PROFILE_METADATA &&
              static_cast<int32_t>(ProfileSource::Sidecar) == VELMORA_PROFILE_SIDECAR &&
              static_cast<int32_t>(ProfileSource::Host) == VELMORA_PROFILE_HOST);
}  // namespace

extern "C" {

VELMORA_API bool velmoraGetProfile(VelmoraContext context, VelmoraProfile* profile) {
    return velmoraCall(context, ContextCalls::Kind::Shared, kGet, false, [&](VelmoraClass& c) {
        if (!recordFits(c, kGet, profile, "VelmoraProfile") || !modelLoaded(c, kGet)) return false;
        giveRecord(toRecord(c.profile()), profile);
        return true;
    });
}

VELMORA_API bool velmoraSetProfile(VelmoraContext context, const VelmoraProfile* profile) {
    return velmoraCall(context, ContextCalls::Kind::Exclusive, kSet, false, [&](VelmoraClass& c) {
        if ((profile && !recordFits(c, kSet, profile, "VelmoraProfile")) || !modelLoaded(c, kSet)) return false;
        if (!profile) return static_cast<bool>(c.setHostProfile(nullptr));
        const Expected<ModelProfile> given = fromRecord(takeRecord(*profile));
        const Status set = given ? c.setHostProfile(&*given) : Status(given.error());
        if (!set) c.report(kSet, set.message());
        return static_cast<bool>(set);
    });
}

VELMORA_API bool velmoraLoadProfile(VelmoraContext context, const char* text) {
    return velmoraCall(context, ContextCalls::Kind::Exclusive, kLoad, false, [&](VelmoraClass& c) {
        if (!text) {
            c.report(kLoad, "the text is null");
            return false;
        }
        if (!modelLoaded(c, kLoad)) return false;
        const Status read = c.loadSidecarProfile(text);
        if (!read) c.report(kLoad, read.message());
        return static_cast<bool>(read);
    });
}

}  // extern "C"
